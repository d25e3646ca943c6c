// SPDX-License-Identifier: MIT
// The radar window streaming on a fast clock, for bench/run: the whole program with its Qt
// windows on the simulated bench, its timers on a virtual clock that runs as fast as the
// machine allows, the windows painted as the event loop would paint them.
//
//   radar_window_run [--history] [--seconds N]   CPU seconds per minute of streaming
//   radar_window_run --history --hours H         peak resident memory after 1 h and after H h
//
// Prints one line per figure, "key value", for bench/run to read.
#include <sys/resource.h>

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "core/program/program.h"
#include "gui/history_window.h"
#include "gui/qt_ui.h"
#include "sim/bench.h"
#include "sim/usb_bus.h"
#include "sim/virtual_clock.h"

namespace {

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// "VmHWM" (peak) or "VmRSS" (now) of this process, in kB.
long StatusKb(const char* field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::strlen(field) + 1));
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  bool history = false;
  double seconds = 60, hours = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--history") history = true;
    else if (arg == "--seconds" && i + 1 < argc) seconds = std::stod(argv[++i]);
    else if (arg == "--hours" && i + 1 < argc) hours = std::stod(argv[++i]);
    else {
      std::fprintf(stderr, "usage: radar_window_run [--history] [--seconds N | --hours H]\n");
      return 2;
    }
  }
  QApplication app(argc, argv);
  QTemporaryDir folder;
  QFile::copy(ZELTO_STRING_TABLE_FILE, folder.filePath("StringTable.txt"));

  zelto::sim::VirtualClock clock;
  zelto::sim::UsbBus bus(clock);
  zelto::sim::SetUpDemoBench(bus);
  zelto::qt::QtUi ui;
  auto program = std::make_unique<zelto::Program>(
      bus, clock, ui,
      zelto::ProgramConfig{std::filesystem::path(folder.path().toStdString()), {}});
  program->SetHistoryClock(&clock);
  ui.Connect(*program);
  program->Load();
  if (!clock.AdvanceUntil([&] { return program->Radar() != nullptr; }, 10000)) {
    std::fprintf(stderr, "radar_window_run: the radar window did not open\n");
    return 1;
  }
  if (history) ui.ShowHistory();
  QCoreApplication::processEvents();

  // Paints as often as the window would: after every receive poll, as the event loop does
  // after each timer; the history window refreshes on its own 500 ms timer.
  auto run = [&](std::int64_t ms, std::int64_t step_ms) {
    for (std::int64_t t = 0; t < ms; t += step_ms) {
      clock.AdvanceBy(step_ms);
      if (history && clock.NowMs() % 500 < step_ms) ui.History()->Chart()->Refresh();
      QCoreApplication::processEvents();
    }
  };
  if (hours > 0) {
    // A second at a time: the reports of that second, then one paint. Memory after 1 h,
    // then every few hours, and at the end.
    for (int hour = 1; hour <= static_cast<int>(hours); ++hour) {
      run(3'600'000, 1000);
      // The simulated adapter logs every host frame for the tests (up to 100000, some 10 MB,
      // reached after about 12 h); cleared here, the figures are the program's own.
      bus.adapter(0).ClearLog();
      if (hour == 1 || hour % 4 == 0 || hour == static_cast<int>(hours))
        std::printf("hour %d rss_kb %ld hwm_kb %ld\n", hour, StatusKb("VmRSS:"),
                    StatusKb("VmHWM:"));
      std::fflush(stdout);
    }
    std::printf("samples %d buckets %d markers %d\n", program->History().SampleCount(),
                program->History().BucketCount(), program->History().MarkerCount());
  } else {
    const double cpu0 = CpuSeconds();
    run(static_cast<std::int64_t>(seconds * 1000), 50);
    const double cpu = CpuSeconds() - cpu0;
    std::printf("cpu_s_per_min %.4f\npercent %.3f\n", cpu * 60 / seconds, cpu * 100 / seconds);
  }
  program.reset();
  return 0;
}
