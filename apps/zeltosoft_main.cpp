// SPDX-License-Identifier: MIT
// zeltosoft: the tool on the real USB drivers.
#if !defined(_WIN32)
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <QApplication>
#include <QSocketNotifier>
#include <memory>

#include "apps/command_line.h"
#include "gui/diag_logging.h"
#include "gui/run_program.h"
#include "apps/startup_probe.h"
#include "core/ports/adapter_port.h"
#include "drivers/null_driver.h"
#include "zelto_version.h"

#ifdef ZELTO_HAVE_SYSTEM_DRIVER
#include "drivers/driver_select.h"
#endif

namespace {


std::unique_ptr<zelto::AdapterPort> MakeDriver() {
#ifdef ZELTO_HAVE_SYSTEM_DRIVER
  return zelto::CreateSystemDriver();
#else
  return std::make_unique<zelto::NullDriver>();
#endif
}

#if !defined(_WIN32)
// A session that ends (logout, shutdown, Ctrl+C in a terminal) ends the program through its
// event loop, so that it unwinds normally: the driver then hands the adapters back, with
// their serial ports, instead of the process simply vanishing. The handler only writes a
// byte; the loop reads it.
int g_signal_fd[2] = {-1, -1};

void OnTerminationSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t ignored = ::write(g_signal_fd[1], &byte, 1);
}

void QuitOnTerminationSignals(QApplication& app) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signal_fd) != 0) return;
  auto* notifier = new QSocketNotifier(g_signal_fd[0], QSocketNotifier::Read, &app);
  QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
    char byte = 0;
    [[maybe_unused]] const ssize_t ignored = ::read(g_signal_fd[0], &byte, 1);
    QCoreApplication::quit();
  });
  struct sigaction action {};
  action.sa_handler = &OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(signal, &action, nullptr);
}
#else
// A windowed program on Windows has no console and is sent no signals to route: the end of
// the session comes as window messages, which are Qt's own business (session management).
void QuitOnTerminationSignals(QApplication&) {}
#endif

}  // namespace

int main(int argc, char** argv) {
  // Answered before Qt looks for a display, so that they work over ssh and for help2man.
  const int answered = zelto::qt::AnswerCommandLine(
      zelto::qt::ParseCommandLine(argc, argv), "zeltosoft",
      "Configures and watches Duroz740 radar sensors through a ZeltoProg USB adapter.",
      ZELTO_PACKAGE_VERSION);
  if (answered >= 0) return answered;

  zelto::qt::RouteDiagnosticsToQtLogging();
  QApplication app(argc, argv);
  QApplication::setApplicationName("ZeltoSoft");
  QApplication::setApplicationVersion(ZELTO_PACKAGE_VERSION);
#ifdef ZELTO_STARTUP_PROBE
  zelto::qt::StartupProbe::InstallIfAsked();
#endif
  QuitOnTerminationSignals(app);
  const std::unique_ptr<zelto::AdapterPort> driver = MakeDriver();
  return zelto::qt::RunProgram(*driver);
}
