// SPDX-License-Identifier: MIT
// zeltosoft-demo: the tool on the simulated bench, a ZeltoProg adapter with a Duroz740 that
// streams signal reports; `--no-adapter` leaves the bench empty. `--walk <folder>` walks
// through the windows by itself, saves a screenshot at each stop into <folder>, prints their
// paths and ends the program.
#include <QApplication>
#include <QDir>
#include <array>
#include <cstdio>
#include <memory>

#include "apps/command_line.h"
#include "apps/demo_walk.h"
#include "gui/diag_logging.h"
#include "gui/qt_timer.h"
#include "gui/run_program.h"
#include "apps/startup_probe.h"
#include "sim/bench.h"
#include "sim/duroz740.h"
#include "sim/usb_bus.h"
#include "zelto_version.h"

namespace {

const std::array<zelto::qt::ProgramOption, 2> kOptions{{
    {"walk", "FOLDER", "walk through the windows, save screenshots into FOLDER and quit"},
    {"no-adapter", nullptr, "start with nothing plugged into the simulated bus"},
}};

}  // namespace

int main(int argc, char** argv) {
  const zelto::qt::CommandLine line = zelto::qt::ParseCommandLine(argc, argv, kOptions);
  const int answered = zelto::qt::AnswerCommandLine(
      line, "zeltosoft-demo",
      "ZeltoSoft on a simulated ZeltoProg adapter with a Duroz740 attached: the whole program\n"
      "without hardware.",
      ZELTO_PACKAGE_VERSION, kOptions);
  if (answered >= 0) return answered;

  QString walk_folder;
  if (line.Has("walk")) {
    walk_folder = QString::fromLocal8Bit(line.values.at("walk").c_str());
    // Before any window exists: a walk that cannot save anything must not run at all.
    if (!QDir().mkpath(walk_folder)) {
      std::fprintf(stderr, "zeltosoft-demo: cannot create %s\n", qPrintable(walk_folder));
      return 1;
    }
  }

  zelto::qt::RouteDiagnosticsToQtLogging();
  QApplication app(argc, argv);
  QApplication::setApplicationName("ZeltoSoft");
  QApplication::setApplicationVersion(ZELTO_PACKAGE_VERSION);
  // Qt adds this to every window's title as the window system shows it ("ZeltoSoft - Simulated
  // demo"), so a screenshot of the demo cannot pass for the real tool; the windows' own
  // texts stay the program's.
  QApplication::setApplicationDisplayName(zelto::qt::kDemoDisplayName);
#ifdef ZELTO_STARTUP_PROBE
  zelto::qt::StartupProbe::InstallIfAsked();
#endif

  zelto::qt::QtClock clock;
  zelto::sim::UsbBus bus(clock);
  if (!line.Has("no-adapter")) zelto::sim::SetUpDemoBench(bus);

  std::unique_ptr<zelto::qt::DemoWalk> walk;
  if (line.Has("walk"))
    walk = std::make_unique<zelto::qt::DemoWalk>(walk_folder, [&bus] {
      if (bus.AdapterCount() == 0) return;
      if (zelto::sim::Duroz740* sensor = bus.adapter(0).Sensor()) sensor->WalkPast(12000, 3000);
    });
  return zelto::qt::RunProgram(bus, [&walk](zelto::qt::QtUi&, zelto::Program&) {
    if (walk) walk->Start();
  });
}
