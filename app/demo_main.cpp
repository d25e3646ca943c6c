// zeltosoft-demo: the tool on the simulated bench, a ZeltoProg adapter with a Duroz740 that
// streams signal reports; `--no-adapter` leaves the bench empty. `--walk <folder>` walks
// through the windows by itself, saves a screenshot at each stop into <folder>, prints their
// paths and ends the program.
#include <QApplication>
#include <QCommandLineParser>
#include <memory>

#include "app/demo_walk.h"
#include "app/qt_timer.h"
#include "app/run_program.h"
#include "app/startup_probe.h"
#include "sim/bench.h"
#include "sim/duroz740.h"
#include "sim/usb_bus.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("ZeltoSoft");
  zelto::qt::StartupProbe::InstallIfAsked();

  QCommandLineParser parser;
  parser.setApplicationDescription("ZeltoSoft on a simulated ZeltoProg adapter and Duroz740");
  parser.addHelpOption();
  const QCommandLineOption walk_option(
      "walk", "Walk through the windows, save screenshots into <folder> and quit.", "folder");
  parser.addOption(walk_option);
  const QCommandLineOption no_adapter_option(
      "no-adapter", "Start with nothing plugged into the simulated bus.");
  parser.addOption(no_adapter_option);
  parser.process(app);

  zelto::qt::QtClock clock;
  zelto::sim::UsbBus bus(clock);
  if (!parser.isSet(no_adapter_option)) zelto::sim::SetUpDemoBench(bus);

  std::unique_ptr<zelto::qt::DemoWalk> walk;
  if (parser.isSet(walk_option))
    walk = std::make_unique<zelto::qt::DemoWalk>(parser.value(walk_option), [&bus] {
      if (bus.AdapterCount() == 0) return;
      if (zelto::sim::Duroz740* sensor = bus.adapter(0).Sensor()) sensor->WalkPast(12000, 3000);
    });
  return zelto::qt::RunProgram(bus, [&walk](zelto::qt::QtUi&, zelto::Program&) {
    if (walk) walk->Start();
  });
}
