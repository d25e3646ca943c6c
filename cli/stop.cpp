// SPDX-License-Identifier: MIT
#include "cli/stop.h"

#include <csignal>

#include "cli/platform.h"

namespace zelto::cli {

namespace {

// Constant-initialized, so the handlers never meet it half-built.
constinit StopRequest g_stop;

static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "the stop request is raised inside signal handlers");

// Windows' console events, on a thread of their own.
void OnConsoleStop(int signo) {
  g_stop.Request(signo);
}

extern "C" void OnStopSignal(int signo) {
  g_stop.Request(signo);
  // A second Ctrl-C ends the program at once, for a user who does not want to wait.
  if (signo == SIGINT) std::signal(signo, SIG_DFL);
}

}  // namespace

StopRequest& ProcessStop() {
  return g_stop;
}

void InstallStopHandlers() {
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);
#ifdef SIGHUP
  std::signal(SIGHUP, OnStopSignal);
#endif
#ifdef SIGPIPE
  std::signal(SIGPIPE, SIG_IGN);
#endif
  // Ctrl-C, Ctrl-Break and closing the console on Windows; nothing on POSIX.
  RouteConsoleEvents(&OnConsoleStop);
}

}  // namespace zelto::cli
