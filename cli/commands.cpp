// SPDX-License-Identifier: MIT
#include "cli/commands.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <iomanip>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/platform.h"
#include "cli/station.h"
#include "core/protocol/programmer_messages.h"
#include "core/text/cp1252.h"

namespace zelto::cli {

namespace {

std::string AllowedValues(ParamList list) {
  const ParamField& f = ParamFields()[list];
  std::string out;
  for (int w = f.min; w <= f.max; ++w) {
    if (!out.empty()) out += ", ";
    out += FormatParamValue(list, static_cast<std::uint8_t>(w));
  }
  return out;
}

}  // namespace

int OpenSensor(Context& ctx, Session& s) {
  Outcome o = s.Open();
  if (o == Outcome::kOk) o = s.Identify();
  if (o == Outcome::kOk) return kExitOk;
  ctx.err << "zeltoctl: " << OutcomeText(o);
  if (o == Outcome::kNotDuroz740) ctx.err << " (device id " << Hex4(s.Identity().id) << ")";
  if (o == Outcome::kNoProgrammer && !ctx.session.adapter_serial.empty())
    ctx.err << " with serial number " << ctx.session.adapter_serial;
  ctx.err << "\n";
  return ExitFor(o);
}

namespace {

void PrintParams(Context& ctx, const ParamsDecode& d, bool has_height) {
  for (const ParamField& f : ParamFields()) {
    if (f.list == kHeight && !has_height) continue;
    std::string line = std::string(f.name) + "=";
    if (!d.valid[f.list]) {
      line += "? (the sensor sent " + std::to_string(d.raw[f.list]) + ", outside " +
              AllowedValues(f.list) + ")";
    } else {
      line += FormatParamValue(f.list, d.params.wire[f.list]);
      const std::string words = ParamValueText(f.list, d.params.wire[f.list], ctx.strings);
      if (!words.empty()) {
        if (line.size() < 16) line.resize(16, ' ');
        line += Cp1252ToUtf8(words);
      }
    }
    ctx.out << line << "\n";
  }
}

// A line of data for a reader at the other end of a pipe: written at once, and a reader
// that has gone away ends the command the way a signal would.
bool EmitLine(Context& ctx, const std::string& line) {
  ctx.out << line;
  ctx.out.flush();
  if (ctx.out) return true;
  if (ctx.stop != nullptr) ctx.stop->Request(kStopPipe);
  return false;
}

using Changes = Profile::Wire;

enum class Job { kSet, kApply, kVerify };

const char* JobName(Job job) {
  switch (job) {
    case Job::kSet:
      return "set";
    case Job::kApply:
      return "apply";
    case Job::kVerify:
      return "verify";
  }
  return "?";
}

// Writes `changes` over what the sensor holds, then reads back and compares (kVerify only
// reads and compares); every path that reached the sensor leaves one commissioning record.
int Provision(Context& ctx, Session& s, Changes changes, Job job, bool verify) {
  const SensorIdentity& st = s.Identity();
  CommissionRecord rec;
  rec.time_utc = ctx.now_utc();
  rec.started_utc = rec.time_utc;  // the log's time of these records is their start
  rec.command = JobName(job);
  rec.adapter = s.AdapterSerial();
  rec.serial = st.serial;
  rec.hw = st.hw_version;
  rec.fw = st.fw_version;
  rec.notes = ctx.notes;
  const std::string serial = Cp1252ToUtf8(st.serial);

  const bool has_height = s.HasHeight();
  auto finish = [&](int code, bool verified, const std::string& result) {
    rec.verified = verified;
    rec.result = result;
    if (code != kExitOk)
      ctx.err << "zeltoctl: " << serial << ": " << result << "\n";
    else if (!ctx.quiet)
      EmitLine(ctx, serial + ": " + result +
                        (rec.after ? " (" + ParamsText(*rec.after, has_height) + ")" : "") + "\n");
    if (!WriteRecord(ctx, rec) && code == kExitOk) code = kExitFailure;
    return code;
  };

  if (changes[kHeight] && !has_height) {
    const std::string why = "this sensor (firmware " + FormatVersion(st.fw_version) +
                            ") has no installation height";
    if (job == Job::kSet) return finish(kExitUnsupported, false, why);
    ctx.err << "zeltoctl: warning: " << serial << ": " << why
            << "; the profile's height is skipped\n";
    changes[kHeight].reset();
    rec.skipped = "height";
  }

  ParamsDecode before;
  Outcome o = s.ReadParams(before);
  if (o == Outcome::kBadReply) {
    // A field the sensor reports out of range cannot be written back as read; it can only
    // be replaced by a value the user names.
    for (const ParamField& f : ParamFields())
      if (!before.valid[f.list] && !changes[f.list] && job != Job::kVerify)
        return finish(kExitSensor, false,
                      std::string("the sensor reports ") + f.name + " as " +
                          std::to_string(before.raw[f.list]) +
                          ", outside its range; name a value for it");
    o = Outcome::kOk;
  }
  if (o != Outcome::kOk)
    return finish(ExitFor(o), false, "reading the parameters: " + OutcomeText(o));
  rec.before = before.params;

  // Nothing to write when the sensor holds every value already: a sensor set twice, or a
  // profile checked rather than applied, is not written (and worn) for nothing.
  const std::string missing = ParamDifferences(changes, before, has_height,
                                          job == Job::kVerify ? "profile" : "wanted");
  if (missing.empty() || job == Job::kVerify) {
    rec.after = before.params;
    if (missing.empty()) return finish(kExitOk, true, job == Job::kVerify ? "matches" : "unchanged");
    return finish(kExitNotVerified, false, "differs: " + missing);
  }

  RadarParams target = before.params;
  for (const ParamField& f : ParamFields())
    if (changes[f.list]) target.wire[f.list] = *changes[f.list];

  o = s.WriteParams(target);
  if (o == Outcome::kNoAnswer)
    return finish(kExitSensor, false, "the write was not acknowledged (no device answering)");
  if (o != Outcome::kOk) return finish(ExitFor(o), false, "writing: " + OutcomeText(o));
  if (!verify) return finish(kExitOk, false, "written, not verified (--no-verify)");

  ParamsDecode after;
  o = s.ReadParams(after);
  if (o == Outcome::kBadReply) {
    rec.after = after.params;
    return finish(kExitNotVerified, false, "the sensor read back values outside their ranges");
  }
  if (o != Outcome::kOk) return finish(ExitFor(o), false, "reading back: " + OutcomeText(o));
  rec.after = after.params;

  Changes written;
  for (const ParamField& f : ParamFields()) written[f.list] = target.wire[f.list];
  const std::string differences = ParamDifferences(written, after, has_height, "wrote");
  if (!differences.empty()) return finish(kExitNotVerified, false, "not taken: " + differences);
  return finish(kExitOk, true, "verified");
}

// The file's text, or false with the reason in `error`.
bool ReadFile(const std::string& path, std::string& text, std::string& error) {
  errno = 0;
  std::ifstream in(PathFromUtf8(path), std::ios::binary);
  if (!in) {
    error = errno != 0 ? std::strerror(errno) : "cannot be opened";
    return false;
  }
  std::ostringstream s;
  s << in.rdbuf();
  text = s.str();
  if (in.bad()) {
    error = errno != 0 ? std::strerror(errno) : "read error";
    return false;
  }
  return true;
}

// The profile in `file`, or the exit code of why not, which it has reported.
std::optional<Profile> LoadProfile(Context& ctx, const std::string& file, int& code) {
  std::string text, error;
  if (!ReadFile(file, text, error)) {
    ctx.err << "zeltoctl: cannot read " << file << ": " << error << "\n";
    code = kExitFailure;
    return std::nullopt;
  }
  auto profile = ProfileFromJson(text, error);
  if (!profile) {
    ctx.err << "zeltoctl: " << file << ": " << error << "\n";
    code = kExitUsage;
  }
  return profile;
}

}  // namespace

std::optional<Profile> ReadProfileFile(Context& ctx, const std::string& file, int& code) {
  return LoadProfile(ctx, file, code);
}

int ExitFor(Outcome outcome) {
  switch (outcome) {
    case Outcome::kOk:
      return kExitOk;
    case Outcome::kNoProgrammer:
    case Outcome::kManyProgrammers:
    case Outcome::kDriverFailure:
      return kExitAdapter;
    case Outcome::kAdapterInUse:
      return kExitAdapterInUse;
    case Outcome::kLinkLost:
    case Outcome::kNoAnswer:
    case Outcome::kNotDuroz740:
    case Outcome::kBadReply:
      return kExitSensor;
    case Outcome::kInterrupted:
      return kExitInterrupted;
  }
  return kExitFailure;
}

int PrintAdapters(Context& ctx, const AdapterListing& listing, bool json) {
  if (!json) ctx.out << "driver: " << ctx.driver_name << "\n";
  if (!listing.status.Ok()) {
    ctx.err << "zeltoctl: USB driver failure (status " << listing.status.code << ")\n";
    return kExitAdapter;
  }
  if (json) {
    nlohmann::ordered_json adapters = nlohmann::ordered_json::array();
    for (const ListedAdapter& a : listing.adapters)
      adapters.push_back(
          {{"index", a.index},
           {"description", a.has_description ? nlohmann::ordered_json(a.description) : nullptr},
           {"serial", a.has_serial ? nlohmann::ordered_json(a.serial) : nullptr},
           {"location", a.has_location ? nlohmann::ordered_json(a.location) : nullptr},
           {"programmer", a.Programmer()},
           {"slot", a.Programmer() ? nlohmann::ordered_json(SlotName(listing, a)) : nullptr}});
    const nlohmann::ordered_json j = {{"driver", ctx.driver_name},
                                      {"adapters", adapters},
                                      {"programmers", listing.Programmers()}};
    ctx.out << j.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
    return kExitOk;
  }
  for (const ListedAdapter& a : listing.adapters)
    ctx.out << a.index << ": description \"" << (a.has_description ? a.description : "?")
            << "\", serial " << (a.has_serial ? a.serial : "?") << ", location "
            << (a.has_location ? Hex4(a.location) : std::string("?"))
            << (a.Programmer() ? "  <- programmer, station slot " + SlotName(listing, a) : "")
            << "\n";
  ctx.out << listing.adapters.size() << " adapter(s), " << listing.Programmers() << " \""
          << kProgrammerDescription << "\"\n";
  return kExitOk;
}

int CmdList(Context& ctx, bool json) {
  return PrintAdapters(ctx, ListAdapters(ctx.driver), json);
}

int CmdInfo(Context& ctx, bool json) {
  Session s(ctx.driver, ctx.loop, ctx.session);
  Outcome o = s.Open();
  if (o != Outcome::kOk) {
    ctx.err << "zeltoctl: " << OutcomeText(o) << "\n";
    return ExitFor(o);
  }
  if (!json)
    ctx.out << "programmer: \"" << s.AdapterDescription() << "\", serial " << s.AdapterSerial()
            << ", location " << Hex4(s.AdapterLocation()) << ", driver " << ctx.driver_name
            << "\n";
  o = s.Identify();
  const SensorIdentity& st = s.Identity();
  if (o != Outcome::kOk && o != Outcome::kNotDuroz740) {
    ctx.err << "zeltoctl: " << OutcomeText(o) << "\n";
    return ExitFor(o);
  }
  const bool duroz = st.id == kDuroz740Id;
  if (json) {
    nlohmann::ordered_json j;
    j["programmer"] = {{"description", s.AdapterDescription()},
                       {"serial", s.AdapterSerial()},
                       {"location", s.AdapterLocation()},
                       {"driver", ctx.driver_name}};
    j["device"] = {{"type", duroz ? "Duroz740" : "unknown"},
                   {"id", Hex4(st.id)},
                   {"serial", Cp1252ToUtf8(st.serial)},
                   {"hw", FormatVersion(st.hw_version)},
                   {"fw", FormatVersion(st.fw_version)},
                   {"height", duroz ? nlohmann::ordered_json(s.HasHeight()) : nullptr}};
    ctx.out << j.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
    return kExitOk;
  }
  const std::string type = duroz ? "Duroz740" : "unknown device";
  ctx.out << "device: " << type << " (id " << Hex4(st.id) << "), serial "
          << Cp1252ToUtf8(st.serial) << ", HW " << FormatVersion(st.hw_version)
          << ", FW " << FormatVersion(st.fw_version) << "\n";
  if (duroz)
    ctx.out << "installation height: " << (s.HasHeight() ? "yes" : "no (firmware before 200)")
            << "\n";
  return kExitOk;
}

int CmdGet(Context& ctx, bool json) {
  Session s(ctx.driver, ctx.loop, ctx.session);
  if (const int code = OpenSensor(ctx, s); code != kExitOk) return code;
  ParamsDecode d;
  const Outcome o = s.ReadParams(d);
  if (o != Outcome::kOk && o != Outcome::kBadReply) {
    ctx.err << "zeltoctl: reading the parameters: " << OutcomeText(o) << "\n";
    return ExitFor(o);
  }
  const SensorIdentity& st = s.Identity();
  if (json) {
    // A profile (`apply` takes it as it is) with the sensor's identity beside it; a value the
    // sensor reports out of range is left out of the parameters and named apart.
    Profile profile;
    nlohmann::ordered_json out_of_range = nlohmann::ordered_json::object();
    for (const ParamField& f : ParamFields()) {
      if (f.list == kHeight && !s.HasHeight()) continue;
      if (d.valid[f.list])
        profile.wire[f.list] = d.params.wire[f.list];
      else
        out_of_range[f.name] = d.raw[f.list];
    }
    auto j = nlohmann::ordered_json::parse(ProfileToJson(profile));
    j["adapter"] = Cp1252ToUtf8(s.AdapterSerial());
    j["serial"] = Cp1252ToUtf8(st.serial);
    j["hw"] = FormatVersion(st.hw_version);
    j["fw"] = FormatVersion(st.fw_version);
    if (!out_of_range.empty()) j["out_of_range"] = out_of_range;
    ctx.out << j.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
  } else {
    PrintParams(ctx, d, s.HasHeight());
  }
  if (o == Outcome::kBadReply) {
    ctx.err << "zeltoctl: " << OutcomeText(o) << "\n";
    return kExitSensor;
  }
  return kExitOk;
}

int CmdSet(Context& ctx, const std::vector<std::string>& assignments, bool verify) {
  Changes changes;
  for (const std::string& a : assignments) {
    const auto eq = a.find('=');
    const ParamField* f = eq == std::string::npos ? nullptr : FindParamField(a.substr(0, eq));
    if (f == nullptr) {
      ctx.err << "zeltoctl: \"" << a
              << "\" is not NAME=VALUE with NAME one of sensitivity, relay, speed, filter, "
                 "traffic, height\n";
      return kExitUsage;
    }
    const auto wire = ParseParamValue(f->list, std::string_view(a).substr(eq + 1));
    if (!wire) {
      ctx.err << "zeltoctl: " << f->name << " takes one of " << AllowedValues(f->list) << "\n";
      return kExitUsage;
    }
    if (changes[f->list]) {
      ctx.err << "zeltoctl: " << f->name << " is named twice\n";
      return kExitUsage;
    }
    changes[f->list] = wire;
  }
  if (assignments.empty()) {
    ctx.err << "zeltoctl: set needs at least one NAME=VALUE\n";
    return kExitUsage;
  }
  if (!LogReady(ctx)) return kExitFailure;
  Session s(ctx.driver, ctx.loop, ctx.session);
  if (const int code = OpenSensor(ctx, s); code != kExitOk) return code;
  return Provision(ctx, s, changes, Job::kSet, verify);
}

int CmdSave(Context& ctx, const std::string& file) {
  Session s(ctx.driver, ctx.loop, ctx.session);
  if (const int code = OpenSensor(ctx, s); code != kExitOk) return code;
  ParamsDecode d;
  const Outcome o = s.ReadParams(d);
  if (o != Outcome::kOk) {
    ctx.err << "zeltoctl: reading the parameters: " << OutcomeText(o) << "\n";
    return ExitFor(o);
  }
  Profile profile;
  for (const ParamField& f : ParamFields())
    if (f.list != kHeight || s.HasHeight()) profile.wire[f.list] = d.params.wire[f.list];
  std::ofstream out(PathFromUtf8(file), std::ios::binary | std::ios::trunc);
  out << ProfileToJson(profile);
  out.close();
  if (!out) {
    ctx.err << "zeltoctl: cannot write " << file << "\n";
    return kExitFailure;
  }
  if (!ctx.quiet) ctx.out << Cp1252ToUtf8(s.Identity().serial) << ": saved to " << file << "\n";
  return kExitOk;
}

bool WriteRecord(Context& ctx, CommissionRecord& record) {
  bool ok = true;
  std::string error;
  if (!ctx.log_path.empty() && !AppendRecord(ctx.log_path, record, ctx.log_format, error)) {
    ctx.err << "zeltoctl: cannot write the log " << ctx.log_path << ": " << error << "\n";
    ok = false;
  }
  if (ctx.store != nullptr && !ctx.store->Append(record, error)) {
    ctx.err << "zeltoctl: cannot write the record store " << ctx.store->Location() << ": "
            << error << "\n";
    ok = false;
  }
  return ok;
}

bool LogReady(Context& ctx) {
  if (ctx.log_path.empty()) return true;
  std::string error;
  if (CanAppend(ctx.log_path, error)) return true;
  ctx.err << "zeltoctl: cannot open the log " << ctx.log_path << ": " << error
          << "; nothing was sent to the sensor\n";
  return false;
}

int CmdVerify(Context& ctx, const std::string& file) {
  int code = kExitOk;
  const auto profile = LoadProfile(ctx, file, code);
  if (!profile) return code;
  if (!LogReady(ctx)) return kExitFailure;
  Session s(ctx.driver, ctx.loop, ctx.session);
  if (code = OpenSensor(ctx, s); code != kExitOk) return code;
  return Provision(ctx, s, profile->wire, Job::kVerify, true);
}

int CmdApply(Context& ctx, const std::string& file, bool each, int count) {
  int code = kExitOk;
  const auto profile = LoadProfile(ctx, file, code);
  if (!profile) return code;
  if (!LogReady(ctx)) return kExitFailure;
  Session s(ctx.driver, ctx.loop, ctx.session);
  if (!each) {
    if (code = OpenSensor(ctx, s); code != kExitOk) return code;
    return Provision(ctx, s, profile->wire, Job::kApply, true);
  }

  Outcome o = s.Open();
  if (o != Outcome::kOk) {
    ctx.err << "zeltoctl: " << OutcomeText(o) << "\n";
    return ExitFor(o);
  }
  // The sensor done last; a sensor that failed is forgotten once the socket is seen empty,
  // so plugging it in again retries it, while one left in place is not written again.
  std::string last_serial;
  bool last_failed = false;
  bool waiting_said = false;
  // Each sensor's latest result, in the order they came: a retried sensor counts once.
  std::vector<std::pair<std::string, int>> results;
  auto batch_code = [&] {
    for (const auto& r : results)
      if (r.second != kExitOk) return r.second;
    return static_cast<int>(kExitOk);
  };
  // The summary says what the exit code says.
  auto summary = [&](int exit_code) {
    const auto verified = std::count_if(results.begin(), results.end(),
                                        [](const auto& r) { return r.second == kExitOk; });
    ctx.out << results.size() << " sensor(s): " << verified << " verified, "
            << results.size() - static_cast<std::size_t>(verified) << " not"
            << (exit_code == kExitInterrupted ? "; interrupted" : "") << "\n";
    return exit_code;
  };
  // Ctrl-C at an empty socket is how an open-ended batch is finished; any other signal, or
  // Ctrl-C before --count sensors were done, interrupts it.
  auto stopped_while_waiting = [&] {
    const bool finished =
        count == 0 && (ctx.stop == nullptr || ctx.stop->Signal() == kStopInterrupt);
    return summary(finished ? batch_code() : static_cast<int>(kExitInterrupted));
  };
  for (;;) {
    if (count > 0 && results.size() >= static_cast<std::size_t>(count)) return summary(batch_code());
    if (!waiting_said && !ctx.quiet) {
      // A reader gone away (`| head`) ends the batch at the next wait, as a signal would.
      EmitLine(ctx, std::string("waiting for ") +
                        (results.empty() ? "a sensor" : "the next sensor") +
                        (count > 0 ? "" : " (Ctrl-C to stop)") + "\n");
    }
    waiting_said = true;
    o = s.IdentifyOnce(std::min(ctx.session.reply_timeout_ms, ctx.each_look_ms));
    if (o == Outcome::kLinkLost) {
      ctx.err << "zeltoctl: " << OutcomeText(o) << "\n";
      summary(kExitSensor);
      return kExitSensor;
    }
    if (o == Outcome::kInterrupted || ctx.loop.Interrupted()) return stopped_while_waiting();
    if (o == Outcome::kNoAnswer && last_failed) last_serial.clear();
    const std::string serial = s.Identity().serial;
    if (o == Outcome::kOk && serial != last_serial) {
      code = Provision(ctx, s, profile->wire, Job::kApply, true);
      const auto known = std::find_if(results.begin(), results.end(),
                                      [&](const auto& r) { return r.first == serial; });
      if (known == results.end())
        results.emplace_back(serial, code);
      else
        known->second = code;
      last_serial = serial;
      last_failed = code != kExitOk;
      waiting_said = false;
      if (code == kExitInterrupted) return summary(kExitInterrupted);
      if (s.LinkLost()) {
        summary(kExitSensor);
        return kExitSensor;
      }
      continue;
    }
    // Nothing new in the socket: look again a little later.
    if (ctx.loop.RunUntil([] { return false; }, ctx.each_poll_ms) == Wait::kInterrupted)
      return stopped_while_waiting();
  }
}

int CmdMonitor(Context& ctx, MonitorFormat format, double seconds) {
  // The sensor reports ten times a second; this long without a report is no passing gap.
  constexpr std::int64_t kSilenceMs = 1000;
  Session s(ctx.driver, ctx.loop, ctx.session);
  if (const int code = OpenSensor(ctx, s); code != kExitOk) return code;
  const std::int64_t start = ctx.loop.NowMs();
  std::int64_t last_seen = start;
  std::uint16_t peak = 0;
  int reports = 0, detections = 0;
  std::int64_t detected_ms = 0;
  bool was_detected = false;
  bool output_closed = false;
  const bool csv = format == MonitorFormat::kCsv;
  if (csv) output_closed = !EmitLine(ctx, "time_s,level,detected\n");
  s.OnSignal([&](const SignalSample& sample) {
    // Detection time is counted between reports only: a sensor that goes quiet while
    // detecting adds nothing.
    if (was_detected && reports > 0) detected_ms += sample.at_ms - last_seen;
    if (sample.detected && !was_detected) ++detections;
    was_detected = sample.detected;
    last_seen = sample.at_ms;
    peak = std::max(peak, sample.level);
    ++reports;
    if (output_closed) return;
    char line[96];
    const double t = (sample.at_ms - start) / 1000.0;
    if (csv)
      std::snprintf(line, sizeof(line), "%.3f,%u,%d\n", t, sample.level, sample.detected ? 1 : 0);
    else if (format == MonitorFormat::kJsonl)
      std::snprintf(line, sizeof(line), "{\"time_s\":%.3f,\"level\":%u,\"detected\":%s}\n", t,
                    sample.level, sample.detected ? "true" : "false");
    else
      std::snprintf(line, sizeof(line), "%9.3f s  level %5u  %s\n", t, sample.level,
                    sample.detected ? "DETECTED" : "-");
    output_closed = !EmitLine(ctx, line);
  });
  Outcome o = output_closed ? Outcome::kInterrupted : s.SetReportMode(2);
  int code = kExitOk;
  if (output_closed) {
    code = kExitOutputClosed;
  } else if (o != Outcome::kOk) {
    ctx.err << "zeltoctl: starting report mode: " << OutcomeText(o) << "\n";
    code = ExitFor(o);
  } else {
    const std::int64_t end = seconds > 0 ? start + static_cast<std::int64_t>(seconds * 1000)
                                         : std::numeric_limits<std::int64_t>::max();
    bool silent = false;
    const Wait w = ctx.loop.RunUntil(
        [&] {
          const std::int64_t now = ctx.loop.NowMs();
          silent = now - last_seen > kSilenceMs;
          return s.LinkLost() || silent || output_closed || now >= end;
        },
        seconds > 0 ? end - start : std::numeric_limits<std::int64_t>::max() / 4);
    if (output_closed) {
      code = kExitOutputClosed;
    } else if (w == Wait::kInterrupted) {
      code = kExitInterrupted;
    } else if (s.LinkLost()) {
      ctx.err << "zeltoctl: " << OutcomeText(Outcome::kLinkLost) << "\n";
      code = kExitSensor;
    } else if (silent) {
      ctx.err << "zeltoctl: the sensor stopped reporting (nothing for " << kSilenceMs << " ms)\n";
      // One attempt to stop it, not the full tries: it is most likely gone.
      s.GiveUpOnSensor();
      code = kExitSensor;
    }
  }
  s.OnSignal(nullptr);
  s.Close();
  char line[160];
  std::snprintf(line, sizeof(line),
                "walk test: %d reports in %.1f s, peak level %u, detected for %.1f s, %d "
                "detection(s)\n",
                reports, (ctx.loop.NowMs() - start) / 1000.0, peak, detected_ms / 1000.0, detections);
  // Not on a pipe whose reader is gone; with CSV or JSON lines on stdout, on stderr.
  if (format != MonitorFormat::kText)
    ctx.err << line;
  else if (!output_closed)
    EmitLine(ctx, line);
  return code;
}

}  // namespace zelto::cli
