// usbemu_traffic: what the real zeltosoft costs on the USB bus, counted at the emulated
// chips over a stretch of real time. For bench/run, not a test: the figures depend on the
// machine, and the umockdev preload inflates the program's CPU, so only call counts compare
// across machines (CPU only between runs here).
//
//   usbemu_traffic ZELTOSOFT MODE SECONDS
//
// MODE: none (empty bus), foreign (one FTDI device of another product), idle (a ZeltoProg
// with nothing plugged into it), radar (a ZeltoProg with a Duroz740: the radar window
// streams). Prints one line of figures; counting starts 5 s after the program (start-up and
// the radar window's opening are left out).
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "sim/duroz740.h"
#include "tests/usbemu/ftdi_emulator.h"
#include "tests/usbemu/running_program.h"

using namespace zelto;
using namespace zelto::usbemu;

namespace {

ChipCounters Sum(EmulatedBus& emu, const std::vector<int>& chips) {
  ChipCounters sum;
  for (int chip : chips) {
    const ChipCounters c = emu.Counters(chip);
    sum.opens += c.opens;
    sum.control_transfers += c.control_transfers;
    sum.string_requests += c.string_requests;
    sum.detaches += c.detaches;
    sum.attaches += c.attaches;
    sum.bulk_in += c.bulk_in;
  }
  return sum;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: usbemu_traffic ZELTOSOFT none|foreign|idle|radar SECONDS\n");
    return 2;
  }
  const std::string mode = argv[2];
  const int seconds = std::atoi(argv[3]);
  constexpr int kWarmupMs = 5000;
  EmulatedBus emu;
  std::vector<int> chips;
  if (mode == "foreign") {
    ChipSpec uart;
    uart.description = "FT232R USB UART";
    chips.push_back(emu.Plug(uart));
  } else if (mode == "idle") {
    chips.push_back(emu.Plug(ChipSpec{}));
  } else if (mode == "radar") {
    chips.push_back(emu.Plug(ChipSpec{}, [](sim::Adapter& a) { a.Attach<sim::Duroz740>(); }));
  } else if (mode != "none") {
    std::fprintf(stderr, "usbemu_traffic: unknown mode %s\n", mode.c_str());
    return 2;
  }
  RunningProgram run(argv[1], emu.RootDir());
  if (!run.Started()) {
    std::fprintf(stderr, "usbemu_traffic: cannot start %s\n", argv[1]);
    return 1;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(kWarmupMs));
  const ChipCounters first = Sum(emu, chips);
  const long long cpu_first = run.CpuTicks();
  const auto t0 = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const ChipCounters last = Sum(emu, chips);
  const long long cpu_last = run.CpuTicks();
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const bool alive = run.Running();
  run.Stop();
  const ChipCounters after_exit = Sum(emu, chips);
  const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
  std::printf(
      "mode=%s seconds=%.1f control_per_s=%.2f opens_per_s=%.2f strings_per_s=%.2f "
      "detaches=%llu attaches=%llu attaches_at_exit=%llu bulk_in_per_s=%.1f cpu_percent=%.1f "
      "alive=%d\n",
      mode.c_str(), s, (last.control_transfers - first.control_transfers) / s,
      (last.opens - first.opens) / s, (last.string_requests - first.string_requests) / s,
      static_cast<unsigned long long>(last.detaches - first.detaches),
      static_cast<unsigned long long>(last.attaches - first.attaches),
      static_cast<unsigned long long>(after_exit.attaches - last.attaches),
      (last.bulk_in - first.bulk_in) / s,
      100.0 * static_cast<double>(cpu_last - cpu_first) / ticks / s, alive ? 1 : 0);
  return 0;
}
