// SPDX-License-Identifier: MIT
#include "cli/station_command.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli/station.h"

namespace zelto::cli {

namespace {

std::string Seconds(std::int64_t ms) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.1f s", static_cast<double>(ms) / 1000.0);
  return text;
}

// One slot's line: name, state, sensor, time in this state, last outcome, counts.
std::string SlotLine(const SlotView& v, std::int64_t now_ms) {
  std::string state = v.state == SlotState::kUnit ? v.step : SlotStateText(v.state);
  char line[512];
  std::snprintf(line, sizeof(line), "%-14s %-24s %-12s %8s  last: %-5s %-12s  pass %d fail %d error %d",
                v.name.c_str(), state.c_str(), v.sensor.empty() ? "-" : v.sensor.c_str(),
                Seconds(now_ms - v.since_ms).c_str(),
                v.last_outcome.empty() ? "-" : v.last_outcome.c_str(), v.last_serial.c_str(),
                v.pass, v.fail, v.error);
  std::string out = line;
  if (!v.last_reason.empty() && v.last_outcome != "PASS") out += "  (" + v.last_reason + ")";
  return out;
}

}  // namespace

int CmdStationCheck(Context& ctx, const StationCommand& command) {
  const AdapterListing listing = ListAdapters(ctx.driver);
  if (listing.status != FT_OK) {
    ctx.err << "zeltoctl: USB driver failure (status " << listing.status << ")\n";
    return kExitAdapter;
  }
  int slots = 0, trouble = 0, held = 0;
  std::vector<std::string> wanted = command.slots;
  for (const ListedAdapter& a : listing.adapters) {
    if (!a.Programmer()) continue;
    const std::string name = SlotName(listing, a);
    if (!command.slots.empty() &&
        std::find(command.slots.begin(), command.slots.end(), name) == command.slots.end())
      continue;
    wanted.erase(std::remove(wanted.begin(), wanted.end(), name), wanted.end());
    ++slots;
    std::string line = "slot " + name + ": serial " +
                       (a.has_serial && !a.serial.empty() ? a.serial : "(none)") + ", location " +
                       (a.has_location ? Hex4(a.location) : "?");
    if (name.rfind('@', 0) == 0)
      line += a.has_serial && !a.serial.empty() ? " (serial shared with another programmer)"
                                                : " (programmer without a serial number)";
    SessionOptions so = ctx.session;
    so.adapter_serial = name.rfind('@', 0) == 0 ? std::string() : a.serial;
    if (name.rfind('@', 0) == 0) so.adapter_location = a.location;
    Session s(ctx.driver, ctx.loop, so);
    const Outcome o = s.Open();
    if (o == Outcome::kOk) {
      line += s.ShortLatency() ? ": ready, short latency timer"
                               : ": ready, but the latency timer could not be set short "
                                 "(replies up to 16 ms slower)";
    } else {
      ++trouble;
      if (o == Outcome::kAdapterInUse) ++held;
      line += ": NOT READY, " + OutcomeText(o);
    }
    ctx.out << line << "\n";
  }
  for (const std::string& w : wanted) {
    ctx.out << "slot " << w << ": NOT READY, no such programmer\n";
    ++trouble;
  }
  ctx.out << slots << " slot(s), " << slots - (trouble - static_cast<int>(wanted.size()))
          << " ready\n";
  if (slots == 0 && wanted.empty()) {
    ctx.err << "zeltoctl: " << OutcomeText(Outcome::kNoProgrammer) << "\n";
    return kExitAdapter;
  }
  if (trouble == 0) return kExitOk;
  return held == trouble ? kExitAdapterInUse : kExitAdapter;
}

int CmdStation(Context& ctx, const StationCommand& command) {
  if (command.check) return CmdStationCheck(ctx, command);
  if (command.profile_file.empty()) {
    ctx.err << "zeltoctl: station needs a PROFILE (or --check)\n";
    return kExitUsage;
  }
  int code = kExitOk;
  const auto profile = ReadProfileFile(ctx, command.profile_file, code);
  if (!profile) return code;
  StationOptions options;
  options.profile = *profile;
  options.profile_hash = ProfileHash(*profile);
  options.station_name = command.station_name;
  options.operator_name = command.operator_name;
  options.version = command.version;
  options.slots = command.slots;
  options.count = command.count;
  options.look_ms = command.look_ms;
  options.log_path = ctx.log_path;
  options.log_format = ctx.log_format;
  options.store = ctx.store;
  options.notes = ctx.notes;
  options.session = ctx.session;
  options.now_utc = ctx.now_utc;
  Station station(ctx.driver, ctx.loop, options);
  std::string error;
  if (!station.Setup(error)) {
    ctx.err << "zeltoctl: " << error << "\n";
    return error.rfind("cannot open the log", 0) == 0 ? kExitFailure
           : error.rfind("the log", 0) == 0           ? kExitUsage
                                                      : kExitAdapter;
  }

  int lines_drawn = 0;
  auto redraw = [&] {
    if (!command.terminal) return;
    const auto views = station.Views();
    std::string text;
    if (lines_drawn > 0) text += "\x1b[" + std::to_string(lines_drawn) + "A";
    for (const SlotView& v : views) text += "\r\x1b[2K" + SlotLine(v, ctx.loop.NowMs()) + "\n";
    lines_drawn = static_cast<int>(views.size());
    ctx.out << text;
    ctx.out.flush();
  };
  station.OnEvent([&](const StationEvent& e) {
    if (e.kind == "log_failed") ctx.err << "zeltoctl: " << e.reason << "\n";
    if (command.terminal) return redraw();
    nlohmann::ordered_json j;
    j["t_ms"] = e.at_ms - station.StartedMs();
    j["slot"] = e.slot;
    j["event"] = e.kind;
    if (!e.serial.empty()) j["serial"] = e.serial;
    if (!e.outcome.empty()) j["outcome"] = e.outcome;
    if (!e.reason.empty()) j["reason"] = e.reason;
    if (e.kind == "sensor" || e.kind == "outcome") {
      j["retest"] = e.retest;
      j["duplicate_serial"] = e.duplicate_serial;
    }
    ctx.out << j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
    ctx.out.flush();
    if (!ctx.out && ctx.stop != nullptr) ctx.stop->Request(kStopPipe);
  });
  std::unique_ptr<Timer> redraw_timer;
  if (command.terminal) {
    redraw_timer = ctx.loop.CreateTimer();
    redraw_timer->SetInterval(command.redraw_ms);
    redraw_timer->SetOnTick(redraw);
    redraw_timer->SetEnabled(true);
  }
  code = station.Run(ctx.stop);
  if (redraw_timer) redraw_timer->SetEnabled(false);
  redraw();

  // The summary: units, outcomes per slot, units per hour.
  const auto views = station.Views();
  const std::int64_t elapsed = ctx.loop.NowMs() - station.StartedMs();
  const double per_hour =
      elapsed > 0 ? station.UnitsDone() * 3600000.0 / static_cast<double>(elapsed) : 0.0;
  if (command.terminal) {
    char line[160];
    std::snprintf(line, sizeof(line), "%d unit(s) in %s, %.0f units per hour\n",
                  station.UnitsDone(), Seconds(elapsed).c_str(), per_hour);
    ctx.out << line;
    for (const SlotView& v : views)
      ctx.out << "  " << v.name << ": " << v.pass << " PASS, " << v.fail << " FAIL, " << v.error
              << " ERROR" << (v.state == SlotState::kOutOfService ? ", out of service" : "")
              << "\n";
  } else {
    nlohmann::ordered_json slots = nlohmann::ordered_json::array();
    for (const SlotView& v : views)
      slots.push_back({{"slot", v.name},
                       {"pass", v.pass},
                       {"fail", v.fail},
                       {"error", v.error},
                       {"out_of_service", v.state == SlotState::kOutOfService}});
    nlohmann::ordered_json j;
    j["t_ms"] = elapsed;
    j["event"] = "summary";
    j["units"] = station.UnitsDone();
    j["units_per_hour"] = static_cast<std::int64_t>(per_hour + 0.5);
    j["slots"] = slots;
    j["exit"] = code;
    ctx.out << j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
  }
  ctx.out.flush();
  return code;
}

}  // namespace zelto::cli
