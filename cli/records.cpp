// SPDX-License-Identifier: MIT
#include "cli/records.h"

#include <algorithm>
#include <cstdio>
#include <chrono>
#include <ctime>
#include <nlohmann/json.hpp>

#include "cli/platform.h"
#include "core/protocol/programmer_messages.h"
#include "core/text/cp1252.h"

namespace zelto::cli {

namespace {

using nlohmann::ordered_json;

ordered_json NumberOf(ParamList list, std::uint8_t wire) {
  const double n = ParamNumber(list, wire);
  if (n == static_cast<double>(static_cast<int>(n))) return static_cast<int>(n);
  return n;
}

ordered_json ParamsJson(const std::optional<RadarParams>& params, bool has_height) {
  if (!params) return nullptr;
  ordered_json j = ordered_json::object();
  for (const ParamField& f : ParamFields()) {
    if (f.list == kHeight && !has_height) continue;
    j[f.name] = NumberOf(f.list, params->wire[f.list]);
  }
  return j;
}

std::string ParamsCsv(const std::optional<RadarParams>& params, bool has_height) {
  // One field with the pairs, so the column count does not depend on the firmware.
  return params ? ParamsText(*params, has_height) : std::string();
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string WireText(ParamList list, const std::optional<std::uint8_t>& wire) {
  return wire ? FormatParamValue(list, *wire) : std::string("-");
}

ordered_json WireJson(ParamList list, const std::optional<std::uint8_t>& wire) {
  return wire ? NumberOf(list, *wire) : ordered_json(nullptr);
}

// "sensitivity=5/5/5 relay=1.5/2/2": found/expected/read back, "-" where not known.
std::string ChecksCsv(const std::vector<ParamCheck>& checks) {
  std::string out;
  for (const ParamCheck& c : checks) {
    const auto list = static_cast<ParamList>(c.list);
    if (!out.empty()) out += ' ';
    out += std::string(ParamFields()[list].name) + "=" + WireText(list, c.found) + "/" +
           WireText(list, c.expected) + "/" + WireText(list, c.read_back);
  }
  return out;
}

}  // namespace

const char* CsvHeader(bool station) {
  return station ? "time,command,adapter,serial,hw,fw,before,after,verified,result,skipped,notes,"
                   "station,slot,operator,version,profile_hash,outcome,retest,duplicate_serial,"
                   "checks\n"
                 : "time,command,adapter,serial,hw,fw,before,after,verified,result,skipped,notes\n";
}

std::string ParamsText(const RadarParams& params, bool has_height) {
  std::string out;
  for (const ParamField& f : ParamFields()) {
    if (f.list == kHeight && !has_height) continue;
    if (!out.empty()) out += ' ';
    out += std::string(f.name) + "=" + FormatParamValue(f.list, params.wire[f.list]);
  }
  return out;
}

std::string ProfileToJson(const Profile& profile) {
  ordered_json j;
  j[kProfileVersionKey] = kProfileFormatVersion;
  j["device"] = "Duroz740";
  ordered_json params = ordered_json::object();
  for (const ParamField& f : ParamFields())
    if (profile.wire[f.list]) params[f.name] = NumberOf(f.list, *profile.wire[f.list]);
  j["parameters"] = params;
  return j.dump(2) + "\n";
}

std::optional<Profile> ProfileFromJson(const std::string& text, std::string& error) {
  // Keys seen in each open object, to refuse one given twice (the parser would keep the
  // last silently, and a hand-edited profile would apply a value its author did not see).
  std::vector<std::vector<std::string>> open_objects;
  std::string duplicate;
  // A profile is two levels deep; far deeper values are refused while parsing, before
  // anything would walk them (printing one in a message recurses as deep as it goes).
  constexpr int kMaxDepth = 32;
  struct TooDeep {};
  const ordered_json::parser_callback_t check =
      [&](int depth, ordered_json::parse_event_t event, ordered_json& parsed) {
        using E = ordered_json::parse_event_t;
        if (depth > kMaxDepth) throw TooDeep{};
        if (event == E::object_start) open_objects.emplace_back();
        if (event == E::object_end && !open_objects.empty()) open_objects.pop_back();
        if (event == E::key && !open_objects.empty() && duplicate.empty()) {
          const std::string key = parsed.get<std::string>();
          auto& keys = open_objects.back();
          if (std::find(keys.begin(), keys.end(), key) != keys.end()) duplicate = key;
          keys.push_back(key);
        }
        return true;
      };
  ordered_json j;
  try {
    j = ordered_json::parse(text, check);
  } catch (const ordered_json::parse_error& e) {
    // The byte where the parser stopped, as the line and column an editor shows.
    std::size_t line = 1, column = 1;
    for (std::size_t i = 0; i + 1 < e.byte && i < text.size(); ++i) {
      if (text[i] == '\n') {
        ++line;
        column = 1;
      } else {
        ++column;
      }
    }
    // What the parser says after its own position, without the bytes it last read (they
    // may be anything, not UTF-8 among them).
    std::string what = e.what();
    if (const auto at = what.find(", column "); at != std::string::npos)
      if (const auto colon = what.find(": ", at); colon != std::string::npos)
        what.erase(0, colon + 2);
    if (const auto last = what.find("; last read"); last != std::string::npos) what.erase(last);
    error = "not valid JSON at line " + std::to_string(line) + ", column " +
            std::to_string(column) + ": " + what;
    return std::nullopt;
  } catch (const TooDeep&) {
    error = "values nested deeper than " + std::to_string(kMaxDepth) + " levels";
    return std::nullopt;
  } catch (const ordered_json::exception& e) {
    // Whatever else the reader refuses: a number out of a double's range (1e309) above all.
    std::string what = e.what();
    if (const auto end = what.find("] "); end != std::string::npos) what.erase(0, end + 2);
    error = (dynamic_cast<const ordered_json::out_of_range*>(&e) != nullptr
                 ? "a number out of range: "
                 : "not readable as JSON: ") +
            what;
    return std::nullopt;
  }
  if (!duplicate.empty()) {
    error = "the key \"" + duplicate + "\" is given twice";
    return std::nullopt;
  }
  if (!j.is_object()) {
    error = "not a JSON object";
    return std::nullopt;
  }
  const auto version = j.find(kProfileVersionKey);
  if (version == j.end() || !version->is_number_integer()) {
    error = std::string("no \"") + kProfileVersionKey + "\" format version";
    return std::nullopt;
  }
  // Compared as numbers: 4294967297 is not 1, whatever it would become as an int.
  if (*version != ordered_json(kProfileFormatVersion)) {
    error = "profile format version " + version->dump() +
            " is not supported (this zeltoctl reads " + std::to_string(kProfileFormatVersion) + ")";
    return std::nullopt;
  }
  if (const auto device = j.find("device");
      device != j.end() && (!device->is_string() || device->get<std::string>() != "Duroz740")) {
    error = "the profile is for device " + device->dump() + ", not Duroz740";
    return std::nullopt;
  }
  const auto params = j.find("parameters");
  if (params == j.end() || !params->is_object()) {
    error = "no \"parameters\" object";
    return std::nullopt;
  }
  if (params->empty()) {
    error = "\"parameters\" names no parameter";
    return std::nullopt;
  }
  Profile profile;
  for (const auto& [name, value] : params->items()) {
    const ParamField* f = FindParamField(name);
    if (f == nullptr) {
      error = "unknown parameter \"" + name + "\"";
      return std::nullopt;
    }
    std::optional<std::uint8_t> wire;
    if (value.is_number()) wire = WireFromNumber(f->list, value.get<double>());
    if (!wire) {
      error = "\"" + name + "\": " + value.dump() + " is not a value of this parameter";
      return std::nullopt;
    }
    profile.wire[f->list] = wire;
  }
  return profile;
}

std::string FormatRecord(const CommissionRecord& r, LogFormat format, bool header) {
  const bool height = HasHeight(r.fw);
  const std::string serial = Cp1252ToUtf8(r.serial);
  const std::string adapter = Cp1252ToUtf8(r.adapter);
  if (format == LogFormat::kJsonl) {
    ordered_json j;
    j["time"] = r.time_utc;
    j["command"] = r.command;
    j["adapter"] = adapter;
    j["serial"] = serial;
    j["hw"] = FormatVersion(r.hw);
    j["fw"] = FormatVersion(r.fw);
    j["before"] = ParamsJson(r.before, height);
    j["after"] = ParamsJson(r.after, height);
    j["verified"] = r.verified;
    j["result"] = r.result;
    if (!r.skipped.empty()) j["skipped"] = r.skipped;
    if (!r.notes.empty()) {
      ordered_json notes = ordered_json::object();
      for (const auto& [key, value] : r.notes) notes[key] = value;
      j["notes"] = notes;
    }
    if (r.station) {
      const StationFields& st = *r.station;
      j["station"] = st.station;
      j["slot"] = Cp1252ToUtf8(st.slot);
      j["operator"] = st.operator_name;
      j["version"] = st.version;
      j["profile_hash"] = st.profile_hash;
      j["outcome"] = st.outcome;
      j["retest"] = st.retest;
      j["duplicate_serial"] = st.duplicate_serial;
      ordered_json checks = ordered_json::object();
      for (const ParamCheck& c : st.checks) {
        const auto list = static_cast<ParamList>(c.list);
        checks[ParamFields()[list].name] = {{"found", WireJson(list, c.found)},
                                            {"expected", WireJson(list, c.expected)},
                                            {"read_back", WireJson(list, c.read_back)}};
      }
      j["checks"] = checks;
    }
    // A serial with bytes that are not text still gives valid JSON.
    return j.dump(-1, ' ', false, ordered_json::error_handler_t::replace) + "\n";
  }
  std::string out;
  if (header) out = CsvHeader(r.station.has_value());
  std::string notes;
  for (const auto& [key, value] : r.notes) notes += (notes.empty() ? "" : " ") + key + "=" + value;
  out += CsvField(r.time_utc) + "," + CsvField(r.command) + "," + CsvField(adapter) + "," +
         CsvField(serial) + "," + FormatVersion(r.hw) + "," + FormatVersion(r.fw) + "," +
         CsvField(ParamsCsv(r.before, height)) + "," + CsvField(ParamsCsv(r.after, height)) + "," +
         (r.verified ? "yes" : "no") + "," + CsvField(r.result) + "," + CsvField(r.skipped) + "," +
         CsvField(notes);
  if (r.station) {
    const StationFields& st = *r.station;
    out += "," + CsvField(st.station) + "," + CsvField(Cp1252ToUtf8(st.slot)) + "," +
           CsvField(st.operator_name) + "," + CsvField(st.version) + "," +
           CsvField(st.profile_hash) + "," + CsvField(st.outcome) + "," +
           (st.retest ? "yes" : "no") + "," + (st.duplicate_serial ? "yes" : "no") + "," +
           CsvField(ChecksCsv(st.checks));
  }
  out += "\n";
  return out;
}

bool AppendRecord(const std::string& path, const CommissionRecord& record, LogFormat format,
                  std::string& error) {
  return AppendDurably(
      path,
      [&](bool was_empty) {
        return FormatRecord(record, format, format == LogFormat::kCsv && was_empty);
      },
      error);
}

std::string UtcNow() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
  const std::tm tm = CalendarTime(t, true);
  char text[32];
  std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%S", &tm);
  char with_ms[40];
  std::snprintf(with_ms, sizeof(with_ms), "%s.%03dZ", text, static_cast<int>(ms.count()));
  return with_ms;
}

std::string ParamDifferences(const Profile::Wire& wanted, const ParamsDecode& got,
                             bool has_height, const char* verb) {
  std::string out;
  for (const ParamField& f : ParamFields()) {
    if (!wanted[f.list] || (f.list == kHeight && !has_height)) continue;
    if (got.valid[f.list] && got.params.wire[f.list] == *wanted[f.list]) continue;
    if (!out.empty()) out += "; ";
    out += std::string(f.name) + ": " + verb + " " + FormatParamValue(f.list, *wanted[f.list]) +
           ", sensor has " +
           (got.valid[f.list] ? FormatParamValue(f.list, got.params.wire[f.list])
                              : std::to_string(got.raw[f.list]) + " (out of range)");
  }
  return out;
}

}  // namespace zelto::cli
