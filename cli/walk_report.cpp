// SPDX-License-Identifier: MIT
#include "cli/walk_report.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/markup_escape.h"
#include "cli/platform.h"
#include "core/protocol/programmer_messages.h"
#include "core/text/cp1252.h"
#include "core/text/text_id.h"

namespace zelto::cli {

namespace {

// The level bar's scale, so the report and the window read alike.
constexpr int kScaleMaximum = 20000;

// The chart's drawing area inside its SVG box (user units; the box scales to the page).
constexpr int kChartWidth = 720, kChartHeight = 250;
constexpr int kPlotLeft = 50, kPlotTop = 28, kPlotRight = 710, kPlotBottom = 220;
constexpr int kColumns = kPlotRight - kPlotLeft;

std::string Escape(const std::string& text) { return EscapeMarkup(text, Markup::kHtml); }

// A table text as HTML: from Windows-1252, escaped, the menus' "&" access marks dropped.
std::string T(const Strings& strings, Text::Id entry, const char* english) {
  std::string text = strings[entry].empty() ? english : Cp1252ToUtf8(strings[entry]);
  text.erase(std::remove(text.begin(), text.end(), '&'), text.end());
  return Escape(text);
}

std::string Fixed(double value, int decimals) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.*f", decimals, value);
  return text;
}

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

std::int64_t MinutesOf(const std::tm& tm) {
  return DaysFromCivil(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday) * 1440 + tm.tm_hour * 60 +
         tm.tm_min;
}

// The local time with its offset from UTC ("2026-12-09 03:04:05 +01:00"), or UTC. The
// offset, not the zone's name: %Z gives the name in the system's code page on Windows
// ("Mitteleuropäische Zeit" in Windows-1252), which is not UTF-8 in the page.
std::string FormatTime(std::time_t t, bool utc) {
  const std::tm tm = CalendarTime(t, utc);
  char text[64];
  std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", &tm);
  if (utc) return std::string(text) + " UTC";
  const std::int64_t offset = MinutesOf(tm) - MinutesOf(CalendarTime(t, true));
  const std::int64_t size = offset < 0 ? -offset : offset;
  char zone[16];
  std::snprintf(zone, sizeof(zone), " %c%02d:%02d", offset < 0 ? '-' : '+',
                static_cast<int>(size / 60 % 100), static_cast<int>(size % 60));
  return text + std::string(zone);
}

const char* const kParamEnglish[] = {"Sensitivity",       "Relay ON time [s]",
                                     "Reaction speed",    "Mains noise filter",
                                     "High-traffic mode", "Installation height"};

// "5" or "1.5 s" and, where the string table has words for the value, the words.
std::string ValueCell(ParamList list, std::uint8_t wire, const Strings& strings) {
  std::string cell = Escape(FormatParamValue(list, wire));
  const std::string words = ParamValueText(list, wire, strings);
  if (!words.empty()) cell += " <span class=\"w\">(" + Escape(Cp1252ToUtf8(words)) + ")</span>";
  return cell;
}

std::string ParamsTable(const std::optional<RadarParams>& params, bool has_height,
                        const Strings& strings) {
  if (!params) return "<p>&mdash;</p>\n";
  std::string out = "<table class=\"p\">\n";
  for (const ParamField& f : ParamFields()) {
    if (f.list == kHeight && !has_height) continue;
    out += "<tr><th>" + T(strings, ParamCaption(f.list), kParamEnglish[f.list]) + "</th><td>" +
           ValueCell(f.list, params->wire[f.list], strings) + "</td></tr>\n";
  }
  return out + "</table>\n";
}

int YOf(int level) {
  const int shown = std::clamp(level, 0, kScaleMaximum);
  return kPlotBottom - (kPlotBottom - kPlotTop) * shown / kScaleMaximum;
}

std::string Chart(const WalkRecord& walk, const Strings& strings) {
  std::vector<HistorySpan> columns(kColumns);
  const std::int64_t span = std::max<std::int64_t>(1, walk.to_ms - walk.from_ms);
  walk.history->Columns(walk.from_ms, walk.from_ms + span, columns);
  std::ostringstream svg;
  svg << "<svg class=\"chart\" viewBox=\"0 0 " << kChartWidth << ' ' << kChartHeight
      << "\" xmlns=\"http://www.w3.org/2000/svg\" role=\"img\" aria-label=\""
      << T(strings, Text::kSignalOverTime, "Signal over time") << "\">\n"
      << "<defs><pattern id=\"gap\" width=\"6\" height=\"6\" patternUnits=\"userSpaceOnUse\" "
         "patternTransform=\"rotate(45)\"><line x1=\"0\" y1=\"0\" x2=\"0\" y2=\"6\" "
         "stroke=\"#999\" stroke-width=\"1.5\"/></pattern></defs>\n"
      << "<rect x=\"" << kPlotLeft << "\" y=\"" << kPlotTop << "\" width=\"" << kColumns
      << "\" height=\"" << kPlotBottom - kPlotTop << "\" fill=\"#fff\" stroke=\"#aaa\"/>\n";
  // Detections and gaps as runs of columns.
  for (int c = 0; c < kColumns;) {
    const bool detected = columns[c].covered && columns[c].detected;
    const bool gap = !columns[c].covered;
    int end = c + 1;
    while (end < kColumns && (columns[end].covered && columns[end].detected) == detected &&
           !columns[end].covered == gap)
      ++end;
    if (detected || gap)
      svg << "<rect class=\"" << (detected ? "det" : "gap") << "\" x=\"" << kPlotLeft + c
          << "\" y=\"" << kPlotTop << "\" width=\"" << end - c << "\" height=\""
          << kPlotBottom - kPlotTop << "\"/>\n";
    c = end;
  }
  for (int mark = 0; mark <= kScaleMaximum; mark += 5000) {
    svg << "<text class=\"ax\" x=\"" << kPlotLeft - 4 << "\" y=\"" << YOf(mark) + 3
        << "\" text-anchor=\"end\">" << mark << "</text>\n";
    if (mark > 0 && mark < kScaleMaximum)
      svg << "<line class=\"grid\" x1=\"" << kPlotLeft << "\" x2=\"" << kPlotRight << "\" y1=\""
          << YOf(mark) << "\" y2=\"" << YOf(mark) << "\"/>\n";
  }
  // Seconds from the start, about every 80 units.
  static constexpr int kSteps[] = {1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600};
  int step = 7200;
  for (int s : kSteps)
    if (static_cast<std::int64_t>(s) * 1000 * kColumns / span >= 80) {
      step = s;
      break;
    }
  for (std::int64_t s = 0; s * 1000 <= span; s += step) {
    const int x = kPlotLeft + static_cast<int>(s * 1000 * kColumns / span);
    svg << "<line class=\"grid\" x1=\"" << x << "\" x2=\"" << x << "\" y1=\"" << kPlotTop
        << "\" y2=\"" << kPlotBottom << "\"/><text class=\"ax\" x=\"" << x << "\" y=\""
        << kPlotBottom + 14 << "\" text-anchor=\"middle\">" << s << " s</text>\n";
  }
  // Level and peak through each run of covered columns.
  for (const bool peak : {true, false}) {
    std::string points;
    auto flush = [&] {
      if (!points.empty())
        svg << "<polyline class=\"" << (peak ? "peak" : "lvl") << "\" points=\"" << points
            << "\"/>\n";
      points.clear();
    };
    for (int c = 0; c < kColumns; ++c) {
      if (!columns[c].covered) {
        flush();
        continue;
      }
      const int x = kPlotLeft + c;
      if (peak) {
        points += std::to_string(x) + "," + std::to_string(YOf(columns[c].peak_max)) + " ";
      } else {
        points += std::to_string(x) + "," + std::to_string(YOf(columns[c].level_min)) + " ";
        if (columns[c].level_max != columns[c].level_min)
          points += std::to_string(x) + "," + std::to_string(YOf(columns[c].level_max)) + " ";
      }
    }
    flush();
  }
  // Legend.
  struct Key {
    const char* cls;
    Text::Id entry;
    const char* english;
  };
  static constexpr Key kKeys[] = {{"lvl", Text::kLevelLegend, "Level"},
                                  {"peak", Text::kPeakLegend, "Peak"},
                                  {"det", Text::kDetectionLegend, "Detection"},
                                  {"gap", Text::kNoReports, "No reports"}};
  int x = kPlotLeft;
  for (const Key& key : kKeys) {
    const std::string label = T(strings, key.entry, key.english);
    if (key.cls[0] == 'l' || key.cls[0] == 'p')
      svg << "<line class=\"" << key.cls << "\" x1=\"" << x << "\" x2=\"" << x + 16
          << "\" y1=\"10\" y2=\"10\"/>";
    else
      svg << "<rect class=\"" << key.cls << "\" x=\"" << x << "\" y=\"4\" width=\"16\" "
          << "height=\"12\" stroke=\"#999\"/>";
    svg << "<text class=\"ax\" x=\"" << x + 21 << "\" y=\"14\">" << label << "</text>\n";
    x += 40 + static_cast<int>(label.size()) * 6;
  }
  svg << "</svg>\n";
  return svg.str();
}

constexpr char kStyle[] = R"(<style>
@page { size: A4; margin: 14mm 14mm 16mm 14mm; }
* { box-sizing: border-box; }
body { font-family: "DejaVu Sans", Arial, Helvetica, sans-serif; font-size: 10pt; color: #111;
       margin: 0 auto; max-width: 182mm; }
h1 { font-size: 16pt; margin: 0 0 3mm 0; border-bottom: 2px solid #1a3a6e; padding-bottom: 2mm; }
h2 { font-size: 11.5pt; margin: 5mm 0 2mm 0; color: #1a3a6e; }
table { border-collapse: collapse; }
th, td { text-align: left; padding: 1mm 2.5mm 1mm 0; vertical-align: top; }
table.id th { font-weight: normal; color: #555; padding-right: 6mm; }
table.p th { font-weight: normal; color: #555; padding-right: 4mm; }
.w { color: #555; }
.cols { display: flex; gap: 10mm; }
.cols > div { flex: 1; }
.chart { width: 100%; height: auto; break-inside: avoid; }
.chart .ax { font-size: 10px; fill: #333; font-family: inherit; }
.chart .grid { stroke: #e2e2e2; stroke-width: 1; }
.chart .lvl { fill: none; stroke: #285ac8; stroke-width: 1.4; }
.chart .peak { fill: none; stroke: #e67800; stroke-width: 1; }
.chart .det { fill: #ffc8c8; }
.chart .gap { fill: url(#gap); }
table.log { width: 100%; font-size: 8.5pt; }
table.log th { border-bottom: 1px solid #888; }
table.log td { border-bottom: 1px solid #ddd; }
tr { break-inside: avoid; }
.ok { color: #007a00; font-weight: bold; }
.bad { color: #c00000; font-weight: bold; }
ul.notes { margin: 0; padding-left: 5mm; }
footer { margin-top: 6mm; font-size: 8pt; color: #777; }
</style>
)";

std::string Page(const std::string& lang, const std::string& title, const std::string& body) {
  return "<!DOCTYPE html>\n<html lang=\"" + lang + "\">\n<head>\n<meta charset=\"utf-8\">\n<title>" +
         title + "</title>\n" + kStyle + "</head>\n<body>\n<h1>" + title + "</h1>\n" + body +
         "<footer>zeltoctl</footer>\n</body>\n</html>\n";
}

}  // namespace

WalkSummary SummarizeWalk(const SignalHistory& history, std::int64_t from_ms,
                          std::int64_t to_ms) {
  WalkSummary s;
  std::int64_t previous = from_ms;
  bool was_detected = false;
  std::int64_t detected_since = 0;
  for (int i = 0; i < history.SampleCount(); ++i) {
    const HistorySample& sample = history.Sample(i);
    if (sample.at_ms < from_ms || sample.at_ms > to_ms) continue;
    ++s.reports;
    s.peak_level = std::max(s.peak_level, sample.level);
    if (sample.at_ms - previous > SignalHistory::kGapMs)
      s.without_reports_ms += sample.at_ms - previous;
    if (sample.detected && !was_detected) {
      ++s.detections;
      detected_since = sample.at_ms;
    }
    if (was_detected)
      s.longest_detection_ms = std::max(s.longest_detection_ms, sample.at_ms - detected_since);
    was_detected = sample.detected;
    previous = sample.at_ms;
  }
  if (to_ms - previous > SignalHistory::kGapMs) s.without_reports_ms += to_ms - previous;
  if (was_detected)
    s.longest_detection_ms = std::max(s.longest_detection_ms, previous - detected_since);
  return s;
}

std::string SummaryLine(const WalkSummary& s) {
  return std::to_string(s.detections) + " detection(s), longest " +
         Fixed(s.longest_detection_ms / 1000.0, 1) + " s, peak level " +
         std::to_string(s.peak_level) + ", " + Fixed(s.without_reports_ms / 1000.0, 1) +
         " s without reports";
}

std::string WalkReportHtml(const WalkRecord& walk, const Strings& strings,
                           const std::string& lang) {
  const bool has_height = HasHeight(walk.fw);
  std::string b;
  b += "<table class=\"id\">\n";
  auto row = [&](Text::Id entry, const char* english, const std::string& value) {
    b += "<tr><th>" + T(strings, entry, english) + "</th><td>" + value + "</td></tr>\n";
  };
  row(Text::kSerialNumber, "Serial number", "<b>" + Escape(Cp1252ToUtf8(walk.serial)) + "</b>");
  row(Text::kHardwareVersion, "Hardware version", Escape(FormatVersion(walk.hw)));
  row(Text::kFirmwareVersion, "Firmware version", Escape(FormatVersion(walk.fw)));
  row(Text::kDateTimeUtc, "Date and time (UTC)", FormatTime(walk.started, true));
  row(Text::kLocalTime, "Local time", Escape(FormatTime(walk.started, false)));
  row(Text::kDuration, "Duration", Fixed((walk.to_ms - walk.from_ms) / 1000.0, 1) + " s");
  b += "</table>\n<div class=\"cols\">\n<div><h2>" +
       T(strings, Text::kParametersAtStart, "Parameters at the start") + "</h2>\n" +
       ParamsTable(walk.before, has_height, strings) + "</div>\n<div><h2>" +
       T(strings, Text::kParametersAtEnd, "Parameters at the end") + "</h2>\n" +
       ParamsTable(walk.after, has_height, strings) + "</div>\n</div>\n";
  if (walk.before && walk.after && !(*walk.before == *walk.after))
    b += "<p class=\"bad\">" +
         T(strings, Text::kParametersChanged, "Parameters changed during the test") + "</p>\n";
  if (!walk.notes.empty()) {
    b += "<h2>" + T(strings, Text::kNotes, "Notes") + "</h2>\n<ul class=\"notes\">\n";
    for (const auto& [key, value] : walk.notes)
      b += "<li><b>" + Escape(key) + ":</b> " + Escape(value) + "</li>\n";
    b += "</ul>\n";
  }
  b += "<h2>" + T(strings, Text::kSignalOverTime, "Signal over time") + "</h2>\n" +
       Chart(walk, strings);
  const WalkSummary& s = walk.summary;
  b += "<h2>" + T(strings, Text::kSummary, "Summary") + "</h2>\n<table class=\"id\">\n";
  row(Text::kDetections, "Detections", std::to_string(s.detections));
  row(Text::kLongestDetection, "Longest detection",
      Fixed(s.longest_detection_ms / 1000.0, 1) + " s");
  row(Text::kPeakLevel, "Peak level", std::to_string(s.peak_level));
  row(Text::kTimeWithoutReports, "Time without reports",
      "<span class=\"" + std::string(s.without_reports_ms > 0 ? "bad" : "ok") + "\">" +
          Fixed(s.without_reports_ms / 1000.0, 1) + " s</span>");
  b += "</table>\n";
  return Page(lang, T(strings, Text::kWalkTestReport, "Walk test report"), b);
}

namespace {

// One CSV line split into its fields ("" doubles a quote inside a quoted field).
std::vector<std::string> CsvFields(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
        fields.back() += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        fields.back() += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      fields.emplace_back();
    } else if (c != '\r') {
      fields.back() += c;
    }
  }
  return fields;
}

// An object's members as "key=value key=value".
std::string JsonParams(const nlohmann::ordered_json& params) {
  if (!params.is_object()) return {};
  std::string out;
  for (const auto& [name, value] : params.items()) {
    if (!out.empty()) out += ' ';
    // Replacement characters for bytes that are not UTF-8, so printing cannot throw.
    out += name + "=" +
           (value.is_string() ? value.get<std::string>()
                              : value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
  }
  return out;
}

// "sensitivity=5 relay=1.5" with the captions and words of the chosen language.
std::string ParamsCell(const std::string& pairs, const Strings& strings) {
  std::istringstream in(pairs);
  std::string out;
  for (std::string pair; in >> pair;) {
    const auto eq = pair.find('=');
    const ParamField* f = eq == std::string::npos ? nullptr : FindParamField(pair.substr(0, eq));
    const auto wire = f ? ParseParamValue(f->list, pair.substr(eq + 1)) : std::nullopt;
    if (!out.empty()) out += "<br>";
    out += wire ? T(strings, ParamCaption(f->list), kParamEnglish[f->list]) + ": " +
                      ValueCell(f->list, *wire, strings)
                : Escape(pair);
  }
  return out.empty() ? "&mdash;" : out;
}

}  // namespace

std::optional<std::vector<LogEntry>> ReadCommissioningLog(const std::string& path, int& skipped) {
  std::ifstream in(PathFromUtf8(path), std::ios::binary);
  if (!in) return std::nullopt;
  return ReadCommissioningLog(in, skipped);
}

std::vector<LogEntry> ReadCommissioningLog(std::istream& in, int& skipped) {
  // time ... notes: the columns every record has had.
  constexpr std::size_t kOlderColumns = 12;
  skipped = 0;
  std::vector<LogEntry> entries;
  std::vector<std::string> header;
  std::streambuf* const buffer = in.rdbuf();
  std::string line;
  bool too_long = false;
  bool at_end = buffer == nullptr;
  while (!at_end) {
    // One line at a time, never more than kMaxLogLineBytes of it held: a file that is not a
    // log (one long line) costs no more memory than a log does.
    line.clear();
    too_long = false;
    for (;;) {
      const int c = buffer->sbumpc();
      if (c == std::char_traits<char>::eof()) {
        at_end = true;
        break;
      }
      if (c == '\n') break;
      if (line.size() < kMaxLogLineBytes)
        line += static_cast<char>(c);
      else
        too_long = true;
    }
    if (line.empty() || line == "\r") continue;
    if (too_long) {
      ++skipped;
      continue;
    }
    LogEntry e;
    if (line[0] == '{') {
      // Values nested deeper than a record's are dropped and the line skipped: printing
      // them would recurse as deep as the line goes.
      bool too_deep = false;
      const nlohmann::ordered_json::parser_callback_t depth =
          [&too_deep](int level, nlohmann::ordered_json::parse_event_t, nlohmann::ordered_json&) {
            if (level > kMaxLogJsonDepth) too_deep = true;
            return level <= kMaxLogJsonDepth;
          };
      const nlohmann::ordered_json j = nlohmann::ordered_json::parse(line, depth, false);
      if (too_deep || j.is_discarded() || !j.is_object()) {
        ++skipped;
        continue;
      }
      auto text = [&](const char* key) {
        const auto it = j.find(key);
        return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
      };
      auto member = [&](const char* key) {
        const auto it = j.find(key);
        return it != j.end() ? *it : nlohmann::ordered_json();
      };
      e.time_utc = text("time");
      e.command = text("command");
      e.adapter = text("adapter");
      e.serial = text("serial");
      e.hw = text("hw");
      e.fw = text("fw");
      e.before = JsonParams(member("before"));
      e.after = JsonParams(member("after"));
      // Only JSON's true is verified; "verified": 1 from a script is not.
      const auto verified = j.find("verified");
      e.verified = verified != j.end() && verified->is_boolean() && verified->get<bool>();
      e.result = text("result");
      // --note KEY=VALUE pairs, as the CSV form writes them.
      e.notes = JsonParams(member("notes"));
      e.outcome = text("outcome");
    } else {
      std::vector<std::string> fields = CsvFields(line);
      if (fields.size() >= 2 && fields[0] == "time" && fields[1] == "command") {
        header = fields;
        continue;
      }
      // A set or apply record in a station's log has the older columns only: the station's
      // columns come last and are then empty.
      if (header.empty() || fields.size() > header.size() ||
          fields.size() < std::min(header.size(), kOlderColumns)) {
        ++skipped;
        continue;
      }
      fields.resize(header.size());
      for (std::size_t i = 0; i < header.size(); ++i) {
        const std::string& h = header[i];
        const std::string& v = fields[i];
        if (h == "time") e.time_utc = v;
        else if (h == "command") e.command = v;
        else if (h == "adapter") e.adapter = v;
        else if (h == "serial") e.serial = v;
        else if (h == "hw") e.hw = v;
        else if (h == "fw") e.fw = v;
        else if (h == "before") e.before = v;
        else if (h == "after") e.after = v;
        else if (h == "verified") e.verified = v == "yes";
        else if (h == "result") e.result = v;
        else if (h == "notes") e.notes = v;
        else if (h == "outcome") e.outcome = v;
      }
    }
    entries.push_back(std::move(e));
  }
  return entries;
}

std::string BatchReportHtml(const std::vector<LogEntry>& entries, const std::string& log_name,
                            const Strings& strings, const std::string& lang) {
  std::string b = "<p>" + Escape(log_name) + "</p>\n<h2>" +
                  T(strings, Text::kSensorsProvisioned, "Sensors provisioned") + "</h2>\n";
  b += "<table class=\"log\">\n<tr><th>" + T(strings, Text::kSerialNumber, "Serial number") +
       "</th><th>" + T(strings, Text::kFirmwareVersion, "Firmware version") + "</th><th>" +
       T(strings, Text::kParametersCaption, "Parameters") + "</th><th>" +
       T(strings, Text::kVerified, "Verified") + "</th><th>" +
       T(strings, Text::kTimeUtc, "Time (UTC)") + "</th><th>" + T(strings, Text::kNotes, "Notes") +
       "</th></tr>\n";
  int provisioned = 0;
  for (const LogEntry& e : entries) {
    if (e.command == "walk") continue;
    ++provisioned;
    b += "<tr><td><b>" + Escape(e.serial) + "</b></td><td>" + Escape(e.fw) + "</td><td>" +
         ParamsCell(e.after.empty() ? e.before : e.after, strings) + "</td><td class=\"" +
         (e.verified ? "ok\">" + T(strings, Text::kYes, "Yes")
                     : "bad\">" + T(strings, Text::kNo, "No")) +
         (e.verified ? "" : "<br><span class=\"w\">" + Escape(e.result) + "</span>") + "</td><td>" +
         Escape(e.time_utc) + "</td><td>" + Escape(e.notes) + "</td></tr>\n";
  }
  b += "</table>\n<h2>" + T(strings, Text::kWalkTests, "Walk tests") + "</h2>\n";
  std::string walks;
  for (const LogEntry& e : entries) {
    if (e.command != "walk") continue;
    walks += "<tr><td><b>" + Escape(e.serial) + "</b></td><td>" + Escape(e.time_utc) +
             "</td><td>" + ParamsCell(e.before, strings) + "</td><td>" + Escape(e.result) +
             "</td><td>" + Escape(e.notes) + "</td></tr>\n";
  }
  if (walks.empty())
    b += "<p>" + T(strings, Text::kNoWalkTest, "No walk test recorded") + "</p>\n";
  else
    b += "<table class=\"log\">\n<tr><th>" + T(strings, Text::kSerialNumber, "Serial number") +
         "</th><th>" + T(strings, Text::kTimeUtc, "Time (UTC)") + "</th><th>" +
         T(strings, Text::kParametersCaption, "Parameters") + "</th><th>" +
         T(strings, Text::kResult, "Result") + "</th><th>" + T(strings, Text::kNotes, "Notes") +
         "</th></tr>\n" + walks + "</table>\n";
  b += "<p>" + T(strings, Text::kSensorsProvisioned, "Sensors provisioned") + ": " +
       std::to_string(provisioned) + "</p>\n";
  return Page(lang, T(strings, Text::kCommissioningReport, "Commissioning report"), b);
}

}  // namespace zelto::cli
