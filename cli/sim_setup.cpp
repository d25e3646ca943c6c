// SPDX-License-Identifier: MIT
#include "cli/sim_setup.h"

#include "core/protocol/radar_params.h"
#include "sim/duroz740.h"

#include <cstdio>

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

namespace zelto::cli {

std::unique_ptr<StationSimBench> StationSimBench::Create(const StationSimOptions& options,
                                                         const Clock& clock, TimerFactory& timers,
                                                         std::string& error) {
  if (options.adapters < 1 || options.adapters > 64) {
    error = "a simulated station takes 1 to 64 programmers (--sim-adapters)";
    return nullptr;
  }
  if (!options.params.empty() && options.params.size() != 5 && options.params.size() != 6) {
    error = "--sim-params takes 5 or 6 numbers";
    return nullptr;
  }
  std::vector<sim::FeederPlan> plans(static_cast<std::size_t>(options.adapters));
  std::vector<bool> same_serial(plans.size());
  for (std::size_t i = 0; i < plans.size(); ++i) {
    sim::FeederPlan& p = plans[i];
    p.first_number = static_cast<int>(i) * 1000000;
    p.units = options.units;
    p.hold_ms = options.hold_ms;
    p.pull_after_read_back_ms = options.pull_after_ms;
    p.gap_ms = options.gap_ms;
    p.jitter_ms = options.jitter_ms;
    p.seed = options.seed + static_cast<std::uint32_t>(i);
    p.firmware = options.firmware;
    if (options.link_timing) p.reply_delay_ms = 15;
    // Slots start a little apart, as hands get round a bench.
    p.first_ms = 1 + static_cast<int>(i) * 37 % std::max(1, options.gap_ms);
    for (std::size_t v = 0; v < options.params.size(); ++v)
      p.stored.emplace_back(static_cast<int>(v), options.params[v]);
  }
  for (const std::string& f : options.faults) {
    const auto colon = f.find(':');
    int index = -1;
    try {
      std::size_t used = 0;
      index = std::stoi(f.substr(0, colon), &used);
      if (used != colon) index = -1;
    } catch (const std::exception&) {
      index = -1;
    }
    const std::string kind = colon == std::string::npos ? std::string() : f.substr(colon + 1);
    if (index < 0 || index >= options.adapters) {
      error = "--sim-fault takes INDEX:KIND with INDEX 0 to " + std::to_string(options.adapters - 1) +
              ", not \"" + f + "\"";
      return nullptr;
    }
    sim::FeederPlan& p = plans[static_cast<std::size_t>(index)];
    if (kind == "silent-read") {
      p.silent_mid_read = true;
    } else if (kind == "pull-write") {
      p.pull_adapter_mid_write = true;
    } else if (kind == "held") {
      p.programmer_held = true;
    } else if (kind == "same-serial" && index > 0) {
      same_serial[static_cast<std::size_t>(index)] = true;
    } else if (kind.rfind("refuse:", 0) == 0) {
      const std::string r = kind.substr(7);
      const auto eq = r.find('=');
      const ParamField* field = eq == std::string::npos ? nullptr : FindParamField(r.substr(0, eq));
      const auto wire = field ? ParseParamValue(field->list, std::string_view(r).substr(eq + 1))
                              : std::nullopt;
      if (!wire) {
        error = "--sim-fault refuse: takes NAME=VALUE, not \"" + r + "\"";
        return nullptr;
      }
      p.refuse.emplace_back(field->list, *wire);
    } else {
      error = "--sim-fault KIND is silent-read, pull-write, held, same-serial (not on 0) or "
              "refuse:NAME=VALUE, not \"" + kind + "\"";
      return nullptr;
    }
  }
  std::unique_ptr<StationSimBench> bench(new StationSimBench(clock));
  bench->bus_.SetLinkTiming(options.link_timing);
  bench->bus_.SetLatencyTimerSupported(options.latency_timer);
  for (std::size_t i = 0; i < plans.size(); ++i) {
    const std::string serial =
        same_serial[i] ? bench->bus_.adapter(i - 1).Serial() : std::string();
    sim::Adapter& a = bench->bus_.Plug("ZeltoProg", serial);
    bench->feeders_.push_back(
        std::make_unique<sim::StationFeeder>(bench->bus_, a, timers, plans[i]));
  }
  return bench;
}

StationSimBench::~StationSimBench() { feeders_.clear(); }

}  // namespace zelto::cli
