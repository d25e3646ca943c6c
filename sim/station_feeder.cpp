// SPDX-License-Identifier: MIT
#include "sim/station_feeder.h"

#include <algorithm>
#include <cstdio>

#include "sim/duroz740.h"
#include "sim/wire_frame.h"

namespace zelto::sim {

StationFeeder::StationFeeder(UsbBus& bus, Adapter& adapter, TimerFactory& timers, FeederPlan plan)
    : bus_(bus),
      adapter_(adapter),
      plan_(std::move(plan)),
      rng_(plan_.seed),
      step_timer_(timers.CreateTimer()),
      pull_timer_(timers.CreateTimer()),
      replug_timer_(timers.CreateTimer()) {
  adapter_.SetHeldElsewhere(plan_.programmer_held);
  step_timer_->SetOnTick([this] { Step(); });
  step_timer_->SetInterval(plan_.first_ms > 0 ? plan_.first_ms : 1);
  step_timer_->SetEnabled(true);
  // Pulled a moment after the write went in: the sensor took it, its answer is lost.
  pull_timer_->SetInterval(1);
  pull_timer_->SetOnTick([this] {
    pull_timer_->SetEnabled(false);
    if (adapter_.Plugged()) bus_.Unplug(adapter_);
    replug_timer_->SetEnabled(true);
  });
  replug_timer_->SetInterval(plan_.replug_after_ms > 0 ? plan_.replug_after_ms : 1);
  replug_timer_->SetOnTick([this] {
    replug_timer_->SetEnabled(false);
    if (!adapter_.Plugged()) bus_.Replug(adapter_);
  });
  adapter_.SetOnHostFrame([this](std::uint8_t code) {
    if (holding_ && code == kReadParamsRequest && ++reads_ == 2 &&
        plan_.pull_after_read_back_ms >= 0)
      step_timer_->SetInterval(std::max(1, plan_.pull_after_read_back_ms));
    if (!holding_ || !FaultNow()) return;
    if (plan_.silent_mid_read && code == kReadParamsRequest && adapter_.AttachedDevice())
      adapter_.AttachedDevice()->SetSilent(true);
    if (plan_.pull_adapter_mid_write && code == kWriteParamsRequest && !pull_timer_->Enabled())
      pull_timer_->SetEnabled(true);
  });
}

StationFeeder::~StationFeeder() { adapter_.SetOnHostFrame(nullptr); }

bool StationFeeder::FaultNow() const {
  const int n = plugged_ - 1;  // the sensor in the socket
  return n >= plan_.fault_from && (plan_.fault_count < 0 || n < plan_.fault_from + plan_.fault_count);
}

std::string StationFeeder::SerialNumber(int n) const {
  if (n < static_cast<int>(plan_.serials.size())) return plan_.serials[static_cast<std::size_t>(n)];
  char digits[16];
  std::snprintf(digits, sizeof(digits), "%08d",
                plan_.first_number + n - static_cast<int>(plan_.serials.size()));
  return plan_.prefix + digits;
}

int StationFeeder::Jitter() {
  if (plan_.jitter_ms <= 0) return 0;
  // Raw mt19937 output: the same seed gives the same timing with every library.
  return static_cast<int>(rng_() % static_cast<std::uint32_t>(plan_.jitter_ms + 1));
}

void StationFeeder::Step() {
  if (holding_) {
    adapter_.Detach();
    holding_ = false;
    step_timer_->SetInterval(std::max(1, plan_.gap_ms + Jitter()));
    return;
  }
  if (plan_.units >= 0 && plugged_ >= plan_.units) {
    step_timer_->SetEnabled(false);
    return;
  }
  const std::string serial = SerialNumber(plugged_);
  auto& sensor = adapter_.Attach<Duroz740>(serial, 0x0102, plan_.firmware,
                                           plan_.seed * 7919u + static_cast<std::uint32_t>(plugged_));
  sensor.SetReplyDelayMs(plan_.reply_delay_ms);
  for (const auto& [param, value] : plan_.stored) sensor.SetParam(param, value);
  for (const auto& [param, value] : plan_.refuse) sensor.RefuseValue(param, value);
  plugged_serials_.push_back(serial);
  ++plugged_;
  reads_ = 0;
  holding_ = true;
  step_timer_->SetInterval(std::max(1, plan_.hold_ms + Jitter()));
}

}  // namespace zelto::sim
