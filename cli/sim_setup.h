// SPDX-License-Identifier: MIT
// The simulated bench behind `zeltoctl --sim`: adapters, the sensor (or the row of sensors
// an installer plugs one after the other), and the faults to try the commands against.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/ports/timer_port.h"
#include "sim/station_feeder.h"
#include "sim/usb_bus.h"

namespace zelto::cli {

struct SimOptions {
  int adapters = 1;
  std::uint16_t firmware = 0x0200;
  // One sensor per serial number; with several, each is plugged in turn.
  std::vector<std::string> serials{"ZS74000001"};
  int swap_ms = 1500;                // how long each sensor stays in the socket
  std::vector<std::uint8_t> params;  // the sensors' stored wire values, 5 or 6
  std::vector<std::string> refuse;   // NAME=VALUE the sensors will not take
  bool held_elsewhere = false;       // another program holds the adapter
  int silent_after_ms = -1;          // the sensor stops answering after this long
  int silent_for_ms = -1;            // and answers again after this long (-1: never)
  int walk_every_ms = -1;            // someone walks past the sensor this often
};

// The simulated bench of a station: `adapters` programmers, each with a sensor feeder.
// Sensors are numbered per slot (slot i's serials start at ZS + i * 1000000); faults are
// given per slot as "INDEX:KIND" with KIND one of silent-read, pull-write, held,
// refuse:NAME=VALUE, same-serial (the programmer takes the previous one's serial number).
struct StationSimOptions {
  int adapters = 4;
  std::uint16_t firmware = 0x0200;
  int units = -1;  // sensors per slot; -1: no end
  int hold_ms = 3000;
  int pull_after_ms = -1;  // >= 0: pulled this long after its read-back request instead
  int gap_ms = 500;
  int jitter_ms = 0;
  std::uint32_t seed = 1;
  std::vector<std::uint8_t> params;  // the sensors' stored wire values, 5 or 6
  std::vector<std::string> faults;
  bool link_timing = false;  // wire time, a 15 ms sensor, the chip's latency timer
  bool latency_timer = true;  // false: the driver cannot set the latency timer short
};

class StationSimBench {
 public:
  static std::unique_ptr<StationSimBench> Create(const StationSimOptions& options,
                                                 const Clock& clock, TimerFactory& timers,
                                                 std::string& error);
  ~StationSimBench();
  sim::UsbBus& Bus() { return bus_; }
  sim::StationFeeder& Feeder(std::size_t i) { return *feeders_.at(i); }

 private:
  explicit StationSimBench(const Clock& clock) : bus_(clock) {}
  sim::UsbBus bus_;
  std::vector<std::unique_ptr<sim::StationFeeder>> feeders_;
};

class SimBench {
 public:
  // Builds the bench on `clock`; the timers (sensor swaps, silence) run on `timers`.
  // Returns null with `error` set when an option makes no sense.
  static std::unique_ptr<SimBench> Create(const SimOptions& options, const Clock& clock,
                                          TimerFactory& timers, std::string& error);
  sim::UsbBus& Bus() { return bus_; }

 private:
  explicit SimBench(const Clock& clock) : bus_(clock) {}
  void AttachNext();

  sim::UsbBus bus_;
  SimOptions options_;
  std::size_t next_sensor_ = 0;
  std::unique_ptr<Timer> swap_timer_;
  std::unique_ptr<Timer> silence_timer_;
  std::unique_ptr<Timer> walk_timer_;
};

}  // namespace zelto::cli
