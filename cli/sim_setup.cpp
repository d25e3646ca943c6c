// SPDX-License-Identifier: MIT
#include "cli/sim_setup.h"

#include "core/protocol/radar_params.h"
#include "sim/duroz740.h"

namespace zelto::cli {

std::unique_ptr<SimBench> SimBench::Create(const SimOptions& options, const Clock& clock,
                                           TimerFactory& timers, std::string& error) {
  if (options.adapters < 0 || options.adapters > 8) {
    error = "--sim-adapters takes 0 to 8";
    return nullptr;
  }
  if (options.serials.empty()) {
    error = "--sim-serial needs a serial number";
    return nullptr;
  }
  if (!options.params.empty() && options.params.size() != 5 && options.params.size() != 6) {
    error = "--sim-params takes 5 or 6 numbers";
    return nullptr;
  }
  for (const std::string& r : options.refuse) {
    const auto eq = r.find('=');
    const ParamField* f = eq == std::string::npos ? nullptr : FindParamField(r.substr(0, eq));
    if (f == nullptr || !ParseParamValue(f->list, std::string_view(r).substr(eq + 1))) {
      error = "--sim-refuse takes NAME=VALUE, not \"" + r + "\"";
      return nullptr;
    }
  }
  std::unique_ptr<SimBench> bench(new SimBench(clock));
  bench->options_ = options;
  for (int i = 0; i < options.adapters; ++i) bench->bus_.Plug();
  if (options.adapters == 0) return bench;
  sim::Adapter& first = bench->bus_.adapter(0);
  first.SetHeldElsewhere(options.held_elsewhere);
  bench->AttachNext();
  if (options.serials.size() > 1) {
    bench->swap_timer_ = timers.CreateTimer();
    bench->swap_timer_->SetInterval(options.swap_ms);
    bench->swap_timer_->SetOnTick([b = bench.get()] { b->AttachNext(); });
    bench->swap_timer_->SetEnabled(true);
  }
  if (options.silent_after_ms >= 0) {
    bench->silence_timer_ = timers.CreateTimer();
    bench->silence_timer_->SetInterval(options.silent_after_ms);
    bench->silence_timer_->SetOnTick([b = bench.get()] {
      sim::Device* d = b->bus_.adapter(0).AttachedDevice();
      const bool silent = d != nullptr && !d->Silent();
      if (d != nullptr) d->SetSilent(silent);
      // A silence with an end comes back once that time has passed.
      if (silent && b->options_.silent_for_ms > 0)
        b->silence_timer_->SetInterval(b->options_.silent_for_ms);
      else
        b->silence_timer_->SetEnabled(false);
    });
    bench->silence_timer_->SetEnabled(true);
  }
  if (options.walk_every_ms > 0) {
    bench->walk_timer_ = timers.CreateTimer();
    bench->walk_timer_->SetInterval(options.walk_every_ms);
    bench->walk_timer_->SetOnTick([b = bench.get()] {
      if (sim::Duroz740* sensor = b->bus_.adapter(0).Sensor()) sensor->WalkPast(12000, 3000);
    });
    bench->walk_timer_->SetEnabled(true);
  }
  return bench;
}

void SimBench::AttachNext() {
  sim::Adapter& adapter = bus_.adapter(0);
  adapter.Detach();
  if (next_sensor_ >= options_.serials.size()) {
    if (swap_timer_) swap_timer_->SetEnabled(false);
    return;
  }
  auto& sensor =
      adapter.Attach<sim::Duroz740>(options_.serials[next_sensor_], 0x0102, options_.firmware,
                                    static_cast<std::uint32_t>(740 + next_sensor_));
  ++next_sensor_;
  for (std::size_t i = 0; i < options_.params.size(); ++i)
    sensor.SetParam(static_cast<int>(i), options_.params[i]);
  for (const std::string& r : options_.refuse) {
    const auto eq = r.find('=');
    const ParamField* f = FindParamField(r.substr(0, eq));
    sensor.RefuseValue(f->list, *ParseParamValue(f->list, std::string_view(r).substr(eq + 1)));
  }
}

}  // namespace zelto::cli
