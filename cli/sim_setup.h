// SPDX-License-Identifier: MIT
// The simulated bench behind `zeltoctl --sim`: adapters, the sensor (or the row of sensors
// an installer plugs one after the other), and the faults to try the commands against.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/ports/timer_port.h"
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
