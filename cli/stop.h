// SPDX-License-Identifier: MIT
// How zeltoctl ends early, whatever asks it to: Ctrl-C, `kill`, a dropped SSH session, the
// reader of its output going away, or (on Windows) the console closing. The asker only calls
// Request(signo), which is safe inside a signal handler or on another thread. The command
// running sees it at its next wait and unwinds the ordinary way: the session sets report
// mode 0 if it set it, closes the adapter once, the record of a write is appended, and main
// returns ExitCode(), 128 + the signal number (130 Ctrl-C, 143 SIGTERM, 129 SIGHUP, 141 a
// closed pipe), as a shell reports a program the signal ended.
#pragma once

#include <atomic>

namespace zelto::cli {

// Signal numbers as POSIX numbers them, so the exit codes are the same on every system.
inline constexpr int kStopInterrupt = 2;   // SIGINT
inline constexpr int kStopHangUp = 1;      // SIGHUP
inline constexpr int kStopTerminate = 15;  // SIGTERM
inline constexpr int kStopPipe = 13;       // SIGPIPE: stdout's reader is gone

class StopRequest {
 public:
  // The first request wins: its signal names the exit code.
  void Request(int signo) noexcept {
    int none = 0;
    signo_.compare_exchange_strong(none, signo);
    requested_.store(true);
  }
  bool Requested() const noexcept { return requested_.load(); }
  int Signal() const noexcept { return signo_.load(); }
  // What the event loop watches.
  const std::atomic<bool>& Flag() const noexcept { return requested_; }
  // 128 + the signal; `code` when nothing was requested.
  int ExitCode(int code) const noexcept { return Requested() ? 128 + Signal() : code; }

 private:
  std::atomic<bool> requested_{false};
  std::atomic<int> signo_{0};
};

// The process's one request, which the handlers below raise.
StopRequest& ProcessStop();

// SIGINT, SIGTERM and SIGHUP raise ProcessStop() (a second SIGINT ends the program at once);
// SIGPIPE is ignored, so a closed stdout shows as a failed write, which the commands turn
// into ProcessStop().Request(kStopPipe).
void InstallStopHandlers();

}  // namespace zelto::cli
