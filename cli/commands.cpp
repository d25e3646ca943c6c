// SPDX-License-Identifier: MIT
#include "cli/commands.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iomanip>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>

#include "core/protocol/programmer_messages.h"
#include "core/text/cp1252.h"

namespace zelto::cli {

namespace {

std::string Hex4(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%04X", value);
  return text;
}

std::string AllowedValues(ParamList list) {
  const ParamField& f = ParamFields()[list];
  std::string out;
  for (int w = f.min; w <= f.max; ++w) {
    if (!out.empty()) out += ", ";
    out += FormatParamValue(list, static_cast<std::uint8_t>(w));
  }
  return out;
}

// Opens the programmer and makes sure a Duroz740 answers. Returns kExitOk or the code of
// the failure, which it has reported.
int OpenSensor(Context& ctx, Session& s) {
  Outcome o = s.Open();
  if (o == Outcome::kOk) o = s.Identify();
  if (o == Outcome::kOk) return kExitOk;
  ctx.err << "zeltoctl: " << OutcomeText(o);
  if (o == Outcome::kNotDuroz740) ctx.err << " (device id " << Hex4(s.State().DeviceId) << ")";
  if (o == Outcome::kNoProgrammer && !ctx.session.adapter_serial.empty())
    ctx.err << " with serial number " << ctx.session.adapter_serial;
  ctx.err << "\n";
  return ExitFor(o);
}

void PrintParams(Context& ctx, const ParamsDecode& d, bool has_height) {
  for (const ParamField& f : ParamFields()) {
    if (f.list == SelHeightDuroz740 && !has_height) continue;
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

using Changes = std::array<std::optional<std::uint8_t>, kParamCount>;

// Writes `changes` over what the sensor holds, then reads back and compares; every path
// that reached the sensor leaves one commissioning record.
int Provision(Context& ctx, Session& s, Changes changes, const char* command, bool verify,
              bool height_is_error) {
  const AppState& st = s.State();
  CommissionRecord rec;
  rec.time_utc = ctx.now_utc();
  rec.command = command;
  rec.adapter = s.AdapterSerial();
  rec.serial = st.DeviceSerial;
  rec.hw = st.DeviceHwVersion;
  rec.fw = st.DeviceFwVersion;
  const std::string serial = Cp1252ToUtf8(st.DeviceSerial);

  const bool has_height = s.HasHeight();
  auto finish = [&](int code, bool verified, const std::string& result) {
    rec.verified = verified;
    rec.result = result;
    if (code == kExitOk)
      ctx.out << serial << ": " << result
              << (rec.after ? " (" + ParamsText(*rec.after, has_height) + ")" : std::string())
              << "\n";
    else
      ctx.err << "zeltoctl: " << serial << ": " << result << "\n";
    if (!ctx.log_path.empty()) {
      std::string error;
      if (!AppendRecord(ctx.log_path, rec, ctx.log_format, error)) {
        ctx.err << "zeltoctl: cannot write the log " << ctx.log_path << ": " << error << "\n";
        if (code == kExitOk) code = kExitFailure;
      }
    }
    return code;
  };

  if (changes[SelHeightDuroz740] && !has_height) {
    const std::string why = "this sensor (firmware " + FormatVersion(st.DeviceFwVersion) +
                            ") has no installation height";
    if (height_is_error) return finish(kExitUnsupported, false, why);
    ctx.err << "zeltoctl: warning: " << serial << ": " << why
            << "; the profile's height is skipped\n";
    changes[SelHeightDuroz740].reset();
  }

  ParamsDecode before;
  Outcome o = s.ReadParams(before);
  if (o == Outcome::kBadReply) {
    // A field the sensor reports out of range cannot be written back as read; it can only
    // be replaced by a value the user names.
    for (const ParamField& f : ParamFields())
      if (!before.valid[f.list] && !changes[f.list])
        return finish(kExitSensor, false,
                      std::string("the sensor reports ") + f.name + " as " +
                          std::to_string(before.raw[f.list]) +
                          ", outside its range; name a value for it");
    o = Outcome::kOk;
  }
  if (o != Outcome::kOk)
    return finish(ExitFor(o), false, "reading the parameters: " + OutcomeText(o));
  rec.before = before.params;

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

  std::string differences;
  for (const ParamField& f : ParamFields()) {
    if (f.list == SelHeightDuroz740 && !has_height) continue;
    if (after.params.wire[f.list] == target.wire[f.list]) continue;
    if (!differences.empty()) differences += "; ";
    differences += std::string(f.name) + ": wrote " +
                   FormatParamValue(f.list, target.wire[f.list]) + ", sensor has " +
                   FormatParamValue(f.list, after.params.wire[f.list]);
  }
  if (!differences.empty()) return finish(kExitNotVerified, false, "not taken: " + differences);
  return finish(kExitOk, true, "verified");
}

bool ReadFile(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  text = s.str();
  return !in.bad();
}

}  // namespace

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

int CmdList(Context& ctx) {
  std::uint32_t count = 0;
  char unused[1] = {0};
  const FT_STATUS status = ctx.driver.ListDevices(&count, unused, FT_LIST_NUMBER_ONLY);
  ctx.out << "driver: " << ctx.driver_name << "\n";
  if (status != FT_OK) {
    ctx.err << "zeltoctl: USB driver failure (status " << status << ")\n";
    return kExitAdapter;
  }
  int programmers = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    void* index = reinterpret_cast<void*>(static_cast<std::uintptr_t>(i));
    char description[kDescriptionBufferSize + 1] = {};
    char serial[kDescriptionBufferSize + 1] = {};
    std::uint32_t location = 0;
    const bool has_description =
        ctx.driver.ListDevices(index, description, FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION) ==
        FT_OK;
    const bool has_serial =
        ctx.driver.ListDevices(index, serial, FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER) == FT_OK;
    const bool has_location =
        ctx.driver.ListDevices(index, &location, FT_LIST_BY_INDEX | FT_OPEN_BY_LOCATION) == FT_OK;
    const bool programmer = has_description && std::string(description) == kProgrammerDescription;
    programmers += programmer ? 1 : 0;
    ctx.out << i << ": description \"" << (has_description ? description : "?") << "\", serial "
            << (has_serial ? serial : "?") << ", location "
            << (has_location ? Hex4(location) : std::string("?"))
            << (programmer ? "  <- programmer" : "") << "\n";
  }
  ctx.out << count << " adapter(s), " << programmers << " \"" << kProgrammerDescription << "\"\n";
  return kExitOk;
}

int CmdInfo(Context& ctx) {
  Session s(ctx.driver, ctx.loop, ctx.session);
  Outcome o = s.Open();
  if (o != Outcome::kOk) {
    ctx.err << "zeltoctl: " << OutcomeText(o) << "\n";
    return ExitFor(o);
  }
  ctx.out << "programmer: \"" << s.AdapterDescription() << "\", serial " << s.AdapterSerial()
          << ", location " << Hex4(s.AdapterLocation()) << ", driver " << ctx.driver_name << "\n";
  o = s.Identify();
  const AppState& st = s.State();
  if (o != Outcome::kOk && o != Outcome::kNotDuroz740) {
    ctx.err << "zeltoctl: " << OutcomeText(o) << "\n";
    return ExitFor(o);
  }
  const std::string type = st.DeviceId == kDuroz740Id ? "Duroz740" : "unknown device";
  ctx.out << "device: " << type << " (id " << Hex4(st.DeviceId) << "), serial "
          << Cp1252ToUtf8(st.DeviceSerial) << ", HW " << FormatVersion(st.DeviceHwVersion)
          << ", FW " << FormatVersion(st.DeviceFwVersion) << "\n";
  if (st.DeviceId == kDuroz740Id)
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
  const AppState& st = s.State();
  if (json) {
    nlohmann::ordered_json j;
    j["adapter"] = Cp1252ToUtf8(s.AdapterSerial());
    j["serial"] = Cp1252ToUtf8(st.DeviceSerial);
    j["hw"] = FormatVersion(st.DeviceHwVersion);
    j["fw"] = FormatVersion(st.DeviceFwVersion);
    nlohmann::ordered_json params = nlohmann::ordered_json::object();
    for (const ParamField& f : ParamFields()) {
      if (f.list == SelHeightDuroz740 && !s.HasHeight()) continue;
      if (!d.valid[f.list]) {
        params[f.name] = nullptr;
        continue;
      }
      const double n = ParamNumber(f.list, d.params.wire[f.list]);
      if (n == static_cast<double>(static_cast<int>(n)))
        params[f.name] = static_cast<int>(n);
      else
        params[f.name] = n;
    }
    j["parameters"] = params;
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
  Session s(ctx.driver, ctx.loop, ctx.session);
  if (const int code = OpenSensor(ctx, s); code != kExitOk) return code;
  return Provision(ctx, s, changes, "set", verify, true);
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
    if (f.list != SelHeightDuroz740 || s.HasHeight()) profile.wire[f.list] = d.params.wire[f.list];
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << ProfileToJson(profile);
  out.close();
  if (!out) {
    ctx.err << "zeltoctl: cannot write " << file << "\n";
    return kExitFailure;
  }
  ctx.out << Cp1252ToUtf8(s.State().DeviceSerial) << ": saved to " << file << "\n";
  return kExitOk;
}

int CmdApply(Context& ctx, const std::string& file, bool each) {
  std::string text;
  if (!ReadFile(file, text)) {
    ctx.err << "zeltoctl: cannot read " << file << "\n";
    return kExitFailure;
  }
  std::string error;
  const auto profile = ProfileFromJson(text, error);
  if (!profile) {
    ctx.err << "zeltoctl: " << file << ": " << error << "\n";
    return kExitUsage;
  }
  Session s(ctx.driver, ctx.loop, ctx.session);
  if (!each) {
    if (const int code = OpenSensor(ctx, s); code != kExitOk) return code;
    return Provision(ctx, s, profile->wire, "apply", true, false);
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
  int done = 0, verified = 0;
  auto summary = [&] {
    ctx.out << done << " sensor(s): " << verified << " verified, " << done - verified << " not\n";
  };
  for (;;) {
    if (!waiting_said) {
      ctx.out << "waiting for " << (done == 0 ? "a sensor" : "the next sensor")
              << " (Ctrl-C to stop)\n";
      ctx.out.flush();
      waiting_said = true;
    }
    o = s.IdentifyOnce(std::min(ctx.session.reply_timeout_ms, ctx.each_look_ms));
    if (o == Outcome::kLinkLost) {
      ctx.err << "zeltoctl: " << OutcomeText(o) << "\n";
      summary();
      return ExitFor(o);
    }
    if (o == Outcome::kInterrupted || ctx.loop.Interrupted()) {
      summary();
      return kExitInterrupted;
    }
    if (o == Outcome::kNoAnswer && last_failed) last_serial.clear();
    const std::string serial = s.State().DeviceSerial;
    if (o == Outcome::kOk && serial != last_serial) {
      const int code = Provision(ctx, s, profile->wire, "apply", true, false);
      ++done;
      verified += code == kExitOk ? 1 : 0;
      last_serial = serial;
      last_failed = code != kExitOk;
      waiting_said = false;
      if (code == kExitInterrupted) {
        summary();
        return kExitInterrupted;
      }
      if (s.LinkLost()) {
        summary();
        return kExitSensor;
      }
      continue;
    }
    // Nothing new in the socket: look again a little later.
    if (ctx.loop.RunUntil([] { return false; }, ctx.each_poll_ms) == Wait::kInterrupted) {
      summary();
      return kExitInterrupted;
    }
  }
}

int CmdMonitor(Context& ctx, bool csv, double seconds) {
  Session s(ctx.driver, ctx.loop, ctx.session);
  if (const int code = OpenSensor(ctx, s); code != kExitOk) return code;
  const std::int64_t start = ctx.loop.NowMs();
  std::int64_t last_seen = start;
  std::uint16_t peak = 0;
  int reports = 0, detections = 0;
  std::int64_t detected_ms = 0;
  bool was_detected = false;
  std::int64_t previous_at = start;
  if (csv) ctx.out << "time_s,level,detected\n";
  s.OnSignal([&](const SignalSample& sample) {
    if (was_detected) detected_ms += sample.at_ms - previous_at;
    if (sample.detected && !was_detected) ++detections;
    was_detected = sample.detected;
    previous_at = sample.at_ms;
    last_seen = sample.at_ms;
    peak = std::max(peak, sample.level);
    ++reports;
    char line[64];
    const double t = (sample.at_ms - start) / 1000.0;
    if (csv)
      std::snprintf(line, sizeof(line), "%.3f,%u,%d\n", t, sample.level, sample.detected ? 1 : 0);
    else
      std::snprintf(line, sizeof(line), "%9.3f s  level %5u  %s\n", t, sample.level,
                    sample.detected ? "DETECTED" : "-");
    ctx.out << line;
  });
  Outcome o = s.SetReportMode(2);
  int code = kExitOk;
  if (o != Outcome::kOk) {
    ctx.err << "zeltoctl: starting report mode: " << OutcomeText(o) << "\n";
    code = ExitFor(o);
  } else {
    const std::int64_t end = seconds > 0 ? start + static_cast<std::int64_t>(seconds * 1000)
                                         : std::numeric_limits<std::int64_t>::max();
    const std::int64_t timeout = ctx.session.reply_timeout_ms;
    bool silent = false;
    const Wait w = ctx.loop.RunUntil(
        [&] {
          const std::int64_t now = ctx.loop.NowMs();
          silent = now - last_seen > timeout;
          return s.LinkLost() || silent || now >= end;
        },
        seconds > 0 ? end - start : std::numeric_limits<std::int64_t>::max() / 4);
    if (w == Wait::kInterrupted) {
      code = kExitInterrupted;
    } else if (s.LinkLost()) {
      ctx.err << "zeltoctl: " << OutcomeText(Outcome::kLinkLost) << "\n";
      code = kExitSensor;
    } else if (silent) {
      ctx.err << "zeltoctl: the sensor stopped reporting (nothing for " << timeout << " ms)\n";
      code = kExitSensor;
    }
  }
  s.OnSignal(nullptr);
  if (was_detected) detected_ms += ctx.loop.NowMs() - previous_at;
  s.Close();
  char line[160];
  std::snprintf(line, sizeof(line),
                "walk test: %d reports in %.1f s, peak level %u, detected for %.1f s, %d "
                "detection(s)\n",
                reports, (ctx.loop.NowMs() - start) / 1000.0, peak, detected_ms / 1000.0,
                detections);
  (csv ? ctx.err : ctx.out) << line;
  return code;
}

}  // namespace zelto::cli
