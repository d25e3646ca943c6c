// SPDX-License-Identifier: MIT
// A sensor feeder for one programmer of the simulated bench, as the hands at a production
// station are: a sensor is plugged in, held for a while, pulled out, and after a gap the next
// one goes in, with serial numbers from a list or counted up. Faults are set per feeder, so
// one slot of a station can misbehave while the others go on.
#pragma once

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "core/ports/timer_port.h"
#include "sim/usb_bus.h"

namespace zelto::sim {

class Duroz740;

struct FeederPlan {
  // The serial numbers plugged in, in order; after them (or with none) `prefix` followed by
  // a number counted up from `first_number` to eight digits.
  std::vector<std::string> serials;
  std::string prefix = "ZS";
  int first_number = 0;
  int units = -1;       // sensors to plug in all; -1: no end
  int first_ms = 0;     // the first sensor goes in then
  int hold_ms = 3000;   // how long a sensor stays in
  // >= 0: a handling robot; each sensor is pulled this long after the request that reads it
  // back (its second read) reaches it, whatever hold_ms says.
  int pull_after_read_back_ms = -1;
  int gap_ms = 500;     // how long the socket stays empty
  int jitter_ms = 0;    // each hold and gap is up to this much longer, from `seed`
  std::uint32_t seed = 1;
  std::uint16_t firmware = 0x0200;
  int reply_delay_ms = 10;  // from a request to the sensor's answer
  std::vector<std::pair<int, std::uint8_t>> stored;  // values the sensors come with
  std::vector<std::pair<int, std::uint8_t>> refuse;  // values the sensors do not take
  // Faults of this feeder's sensors or programmer, from its `fault_from`-th sensor (0: the
  // first) on.
  bool silent_mid_read = false;       // a sensor stops answering at a parameter read
  bool pull_adapter_mid_write = false;  // the programmer is pulled as a write reaches the sensor
  int replug_after_ms = 1000;         // ... and plugged in again this much later
  bool programmer_held = false;       // another program holds the programmer open
  int fault_from = 0;
  int fault_count = -1;               // sensors with the fault; -1: all from fault_from on
};

class StationFeeder {
 public:
  StationFeeder(UsbBus& bus, Adapter& adapter, TimerFactory& timers, FeederPlan plan);
  ~StationFeeder();
  StationFeeder(const StationFeeder&) = delete;
  StationFeeder& operator=(const StationFeeder&) = delete;

  // Sensors plugged in so far, and the serial numbers in order.
  int Plugged() const { return plugged_; }
  const std::vector<std::string>& PluggedSerials() const { return plugged_serials_; }
  bool Done() const { return plan_.units >= 0 && plugged_ >= plan_.units && !holding_; }
  Adapter& adapter() { return adapter_; }

 private:
  void Step();
  bool FaultNow() const;
  std::string SerialNumber(int n) const;
  int Jitter();

  UsbBus& bus_;
  Adapter& adapter_;
  FeederPlan plan_;
  std::mt19937 rng_;
  std::unique_ptr<Timer> step_timer_;
  std::unique_ptr<Timer> pull_timer_;
  std::unique_ptr<Timer> replug_timer_;
  int plugged_ = 0;
  bool holding_ = false;
  int reads_ = 0;  // parameter reads of the sensor in the socket
  std::vector<std::string> plugged_serials_;
};

}  // namespace zelto::sim
