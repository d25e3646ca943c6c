// SPDX-License-Identifier: MIT
#include "cli/records.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>

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
    if (f.list == SelHeightDuroz740 && !has_height) continue;
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

}  // namespace

std::string ParamsText(const RadarParams& params, bool has_height) {
  std::string out;
  for (const ParamField& f : ParamFields()) {
    if (f.list == SelHeightDuroz740 && !has_height) continue;
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
  const ordered_json j = ordered_json::parse(text, nullptr, false);
  if (j.is_discarded() || !j.is_object()) {
    error = "not a JSON object";
    return std::nullopt;
  }
  const auto version = j.find(kProfileVersionKey);
  if (version == j.end() || !version->is_number_integer()) {
    error = std::string("no \"") + kProfileVersionKey + "\" format version";
    return std::nullopt;
  }
  if (version->get<int>() != kProfileFormatVersion) {
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
    // A serial with bytes that are not text still gives valid JSON.
    return j.dump(-1, ' ', false, ordered_json::error_handler_t::replace) + "\n";
  }
  std::string out;
  if (header) out = "time,command,adapter,serial,hw,fw,before,after,verified,result\n";
  out += CsvField(r.time_utc) + "," + CsvField(r.command) + "," + CsvField(adapter) + "," +
         CsvField(serial) + "," + FormatVersion(r.hw) + "," + FormatVersion(r.fw) + "," +
         CsvField(ParamsCsv(r.before, height)) + "," + CsvField(ParamsCsv(r.after, height)) + "," +
         (r.verified ? "yes" : "no") + "," + CsvField(r.result) + "\n";
  return out;
}

bool AppendRecord(const std::string& path, const CommissionRecord& record, LogFormat format,
                  std::string& error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  struct stat st {};
  const bool empty = ::fstat(fd, &st) == 0 && st.st_size == 0;
  const std::string text = FormatRecord(record, format, format == LogFormat::kCsv && empty);
  const ssize_t written = ::write(fd, text.data(), text.size());
  bool ok = written == static_cast<ssize_t>(text.size());
  if (!ok) error = written < 0 ? std::strerror(errno) : "short write";
  if (ok && ::fsync(fd) != 0) {
    error = std::strerror(errno);
    ok = false;
  }
  ::close(fd);
  return ok;
}

std::string UtcNow() {
  const std::time_t t = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

}  // namespace zelto::cli
