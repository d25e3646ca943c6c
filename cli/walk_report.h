// SPDX-License-Identifier: MIT
// The commissioning papers an installer hands over: the report of one walk test (the
// sensor, its parameters at the start and at the end, the signal over the walk and a
// summary) and the page of a batch from the commissioning log. Both are one self-contained
// HTML file each: inline CSS and SVG, no script, nothing fetched, laid out for A4.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <istream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/history/signal_history.h"
#include "core/protocol/radar_params.h"
#include "core/ports/param_list.h"

namespace zelto::cli {

using Strings = std::array<std::string, kStringTableSize>;

// What a walk test found, from the history of its reports between from_ms and to_ms.
struct WalkSummary {
  int reports = 0;
  int detections = 0;  // times the LED went on
  std::int64_t longest_detection_ms = 0;
  std::uint16_t peak_level = 0;
  std::int64_t without_reports_ms = 0;  // stretches longer than SignalHistory::kGapMs
};
WalkSummary SummarizeWalk(const SignalHistory& history, std::int64_t from_ms, std::int64_t to_ms);
// "3 detection(s), longest 2.4 s, peak level 12000, 0.0 s without reports".
std::string SummaryLine(const WalkSummary& summary);

struct WalkRecord {
  std::string serial;  // 8-bit as received
  std::int32_t hw = 0;
  std::int32_t fw = 0;
  std::optional<RadarParams> before;  // as read back; absent when the read failed
  std::optional<RadarParams> after;
  std::time_t started = 0;  // wall-clock time of the start
  std::vector<std::pair<std::string, std::string>> notes;  // --note KEY=VALUE
  const SignalHistory* history = nullptr;
  std::int64_t from_ms = 0;  // the walk on the history's clock
  std::int64_t to_ms = 0;
  WalkSummary summary;
};

// UTF-8 HTML. Texts from the string table in the chosen language (`lang`: "en" or "it"),
// English where the table has none.
std::string WalkReportHtml(const WalkRecord& walk, const Strings& strings,
                           const std::string& lang);

// One row of the commissioning log, as either format writes it.
struct LogEntry {
  std::string time_utc, command, adapter, serial, hw, fw, before, after, result, notes;
  std::string outcome;  // a station's record: PASS, FAIL, ERROR or OUT OF SERVICE
  bool verified = false;
};
// Reads a log in CSV (with its header) or JSON lines; rows it cannot read (also a line
// longer than kMaxLogLineBytes, or JSON nested deeper than kMaxLogJsonDepth) are skipped and
// counted in `skipped`. Nothing when the file cannot be read.
constexpr std::size_t kMaxLogLineBytes = 64 * 1024;
constexpr int kMaxLogJsonDepth = 16;
std::optional<std::vector<LogEntry>> ReadCommissioningLog(const std::string& path, int& skipped);
std::vector<LogEntry> ReadCommissioningLog(std::istream& in, int& skipped);
std::string BatchReportHtml(const std::vector<LogEntry>& entries, const std::string& log_name,
                            const Strings& strings, const std::string& lang);

}  // namespace zelto::cli
