// SPDX-License-Identifier: MIT
// soak --hours H --seed S [--firmware 0x01FF] [--verbose]
//
// Runs the fault soak for H hours of simulated time and prints what it did and what it
// found. Exits 0 only when no check was violated.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sim/usb_bus.h"
#include "tests/soak/soak_world.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: soak --hours H --seed S [--firmware 0xNNNN] [--verbose]\n");
  return 2;
}

bool ParseNumber(const char* text, double& out) {
  char* end = nullptr;
  out = std::strtod(text, &end);
  return end != text && *end == '\0';
}

}  // namespace

int main(int argc, char** argv) {
  zelto::soak::SoakOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--verbose") {
      options.verbose = true;
      continue;
    }
    if (i + 1 >= argc) return Usage();
    const char* value = argv[++i];
    if (arg == "--hours") {
      if (!ParseNumber(value, options.hours) || !(options.hours > 0)) return Usage();
    } else if (arg == "--seed") {
      char* end = nullptr;
      const unsigned long seed = std::strtoul(value, &end, 0);
      if (end == value || *end != '\0') return Usage();
      options.seed = static_cast<std::uint32_t>(seed);
    } else if (arg == "--firmware") {
      char* end = nullptr;
      const unsigned long fw = std::strtoul(value, &end, 0);
      if (end == value || *end != '\0' || fw > 0xFFFF) return Usage();
      options.firmware = static_cast<std::uint16_t>(fw);
    } else {
      return Usage();
    }
  }

  const auto started = std::chrono::steady_clock::now();
  zelto::soak::SoakWorld world(options);
  world.Run();
  const zelto::soak::SoakFigures f = world.Figures();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  std::printf("soak: seed %u, sensor firmware 0x%04X\n", options.seed, options.firmware);
  std::printf("simulated hours:           %.2f (%.1f s of real time)\n", f.simulated_ms / 3600000.0,
              seconds);
  std::printf("fault cycles:              %llu\n", static_cast<unsigned long long>(f.cycles));
  std::printf("fault episodes started by the soak:\n");
  for (int k = 0; k < zelto::soak::kSoakFaultKinds; ++k)
    std::printf("  %-22s %llu\n", zelto::soak::kFaultKindNames[k],
                static_cast<unsigned long long>(f.episodes[k]));
  std::printf("faults injected (bus counters):\n");
  for (int k = 0; k < zelto::sim::kFaultKinds; ++k)
    std::printf("  %-22s %llu\n", zelto::sim::FaultName(static_cast<zelto::sim::Fault>(k)),
                static_cast<unsigned long long>(f.faults[k]));
  std::printf("parameter writes:          %llu sent, %llu taken by the sensor\n",
              static_cast<unsigned long long>(f.writes_sent),
              static_cast<unsigned long long>(f.writes_taken));
  std::printf("sensor parameter changes:  %llu\n",
              static_cast<unsigned long long>(f.sensor_changes));
  std::printf(
      "user choices:              %llu (last ones before a settle: %llu stored, %llu shown back)\n",
      static_cast<unsigned long long>(f.user_choices),
      static_cast<unsigned long long>(f.choices_stored),
      static_cast<unsigned long long>(f.choices_shown_back));
  std::printf("radar window:              %llu openings, %llu closings\n",
              static_cast<unsigned long long>(f.radar_openings),
              static_cast<unsigned long long>(f.radar_closings));
  std::printf("reopened after closing:    %lld to %lld ms\n",
              static_cast<long long>(f.reopen_min_ms), static_cast<long long>(f.reopen_max_ms));
  std::printf(
      "sensor found again:        %llu times followed by its signal (%llu sensor restarts)\n",
      static_cast<unsigned long long>(f.refinds_watched),
      static_cast<unsigned long long>(f.sensor_restarts));
  std::printf(
      "picks:                     %llu made while a write was unanswered, %llu carried "
      "to their sensor, %llu dropped for another sensor\n",
      static_cast<unsigned long long>(f.picks_during_write),
      static_cast<unsigned long long>(f.picks_reached),
      static_cast<unsigned long long>(f.picks_for_other));
  std::printf("longest signal gap:        %lld ms while reports were expected\n",
              static_cast<long long>(f.longest_signal_gap_ms));
  std::printf("quiet silences:            %llu closed the window\n",
              static_cast<unsigned long long>(f.silences));
  std::printf(
      "longest recovery:          %lld ms after the faults stopped (%llu times through a reopened "
      "window)\n",
      static_cast<long long>(f.longest_recovery_ms),
      static_cast<unsigned long long>(f.settles_with_reopen));
  std::printf("invariant violations:      %llu\n", static_cast<unsigned long long>(f.violations));
  for (const std::string& v : f.first_violations) std::printf("  %s\n", v.c_str());
  if (!f.before_first_violation.empty()) {
    std::printf("what happened before the first violation:\n");
    for (const std::string& e : f.before_first_violation) std::printf("  %s\n", e.c_str());
  }
  return f.violations == 0 ? 0 : 1;
}
