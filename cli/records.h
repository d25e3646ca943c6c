// SPDX-License-Identifier: MIT
// What zeltoctl keeps on disk: parameter profiles (JSON, with a format version, editable by
// hand) and the commissioning log (one record per set/apply, CSV or JSON lines).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/protocol/radar_params.h"

namespace zelto::cli {

constexpr int kProfileFormatVersion = 1;
inline constexpr char kProfileVersionKey[] = "zeltoctl_profile";

// A profile names some or all of the six parameters.
struct Profile {
  using Wire = std::array<std::optional<std::uint8_t>, kParamCount>;
  Wire wire{};
};

// "speed: wrote 2, sensor has 1; ..." for every field of `wanted` the sensor does not hold
// (the height only where the firmware has it); empty when it holds them all.
std::string ParamDifferences(const Profile::Wire& wanted, const ParamsDecode& got,
                             bool has_height, const char* verb);

// The profile's JSON text (two-space indent, numbers in their plain form).
std::string ProfileToJson(const Profile& profile);
// Parses and checks a profile; on failure returns nothing and says why in `error` (for text
// that is not JSON, with the line and column). A key given twice and a profile that names
// no parameter are refused.
std::optional<Profile> ProfileFromJson(const std::string& text, std::string& error);

// What a station's record adds: where and by whom, against which profile, the outcome, and
// per parameter the value found, expected and read back (wire values; absent: not known).
struct ParamCheck {
  int list = 0;  // the parameter
  std::optional<std::uint8_t> found, expected, read_back;
};
struct StationFields {
  std::string station, slot, operator_name, version, profile_hash;
  std::string outcome;  // "PASS", "FAIL", "ERROR" or "OUT OF SERVICE"
  bool retest = false;           // the serial has a PASS in this log already, or was put back
  bool duplicate_serial = false;  // the serial was on another slot at the same time
  std::vector<ParamCheck> checks;
};

// One commissioning record.
struct CommissionRecord {
  // The record's own id in a record store: 32 lowercase hex digits (128 random bits), given
  // when it is first stored, so that a record sent twice is stored once. The log does not
  // carry it.
  std::string id;
  std::string time_utc;  // ISO 8601 with milliseconds, e.g. 2026-12-09T01:02:03.045Z
  // When the work on the unit began, as time_utc; empty when not known. Kept by the record
  // store (test records give a unit's start and end), not written to the log.
  std::string started_utc;
  std::string command;   // "set", "apply" or "verify"
  std::string adapter;   // the programmer's serial number
  std::string serial;    // the sensor's, 8-bit as received
  std::int32_t hw = 0;
  std::int32_t fw = 0;
  std::optional<RadarParams> before;
  std::optional<RadarParams> after;
  bool verified = false;
  std::string result;   // "verified", "unchanged", "matches", or why not
  std::string skipped;  // a profile's parameter this sensor does not have ("height")
  std::vector<std::pair<std::string, std::string>> notes;  // --note KEY=VALUE
  std::optional<StationFields> station;  // a station's record ("command" is "station")
};

// The CSV header line of the records FormatRecord writes without and with station fields.
// The station's columns come after the others, so a reader of the older columns, which
// finds them by name, reads the rows as before.
const char* CsvHeader(bool station);

enum class LogFormat { kCsv, kJsonl };

// The record as one line (JSON lines) or one CSV row, ending in a newline. Sensor texts are
// converted from Windows-1252 to UTF-8. `header` prefixes the CSV column names.
std::string FormatRecord(const CommissionRecord& record, LogFormat format, bool header);

// Appends the record with one write, flushed to the disk, so it is in the file whole or not
// at all.
// A new or empty CSV file gets the header in the same write. False (with the system's reason
// in `error`) when the file cannot be opened or written. `path` is UTF-8.
bool AppendRecord(const std::string& path, const CommissionRecord& record, LogFormat format,
                  std::string& error);

// "sensitivity=5 relay=1.5 ..." (height only when the sensor has it).
std::string ParamsText(const RadarParams& params, bool has_height);

// Now as ISO 8601 UTC, to the millisecond.
std::string UtcNow();

}  // namespace zelto::cli
