// SPDX-License-Identifier: MIT
#include "cli/records_commands.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <sstream>
#include <string_view>
#include <tuple>

#include "cli/walk.h"
#include "cli/walk_report.h"
#include "core/protocol/programmer_messages.h"
#include "cli/markup_escape.h"
#include "core/text/cp1252.h"

namespace zelto::cli {

namespace {

std::string Xml(const std::string& text) { return EscapeMarkup(text, Markup::kXml); }

// Seconds since the epoch of "2026-12-09T01:02:03.045Z"; nothing when it is not that shape.
std::optional<double> EpochSeconds(const std::string& t) {
  int y, mo, d, h, mi, s, ms = 0;
  if (std::sscanf(t.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3dZ", &y, &mo, &d, &h, &mi, &s, &ms) < 6)
    return std::nullopt;
  using namespace std::chrono;
  const year_month_day day{year{y}, month{static_cast<unsigned>(mo)}, std::chrono::day{static_cast<unsigned>(d)}};
  if (!day.ok()) return std::nullopt;
  return static_cast<double>(sys_days{day}.time_since_epoch().count()) * 86400.0 + h * 3600.0 +
         mi * 60.0 + s + ms / 1000.0;
}

std::string Property(const std::string& name, const std::string& value) {
  return "      <property name=\"" + Xml(name) + "\" value=\"" + Xml(value) + "\"/>\n";
}

std::string WireText(ParamList list, const std::optional<std::uint8_t>& wire) {
  return wire ? FormatParamValue(list, *wire) : std::string();
}

// One unit's <testsuite>.
std::string JunitSuite(const CommissionRecord& r) {
  const std::string serial = Cp1252ToUtf8(r.serial);
  const StationFields* st = r.station ? &*r.station : nullptr;
  struct Case {
    std::string name, expected, found, read_back, failure, error;
  };
  std::vector<Case> cases;
  if (st != nullptr) {
    for (const ParamCheck& c : st->checks) {
      if (!c.expected) continue;  // a parameter the profile does not name is not tested
      const auto list = static_cast<ParamList>(c.list);
      Case tc{ParamFields()[list].name, WireText(list, c.expected), WireText(list, c.found),
              WireText(list, c.read_back), "", ""};
      if (!c.read_back)
        tc.error = "not read back";
      else if (*c.read_back != *c.expected)
        tc.failure = "expected " + tc.expected + ", read back " + tc.read_back;
      cases.push_back(tc);
    }
    // The unit's outcome where no parameter accounts for it (a sensor that went silent).
    const bool accounted = std::any_of(cases.begin(), cases.end(), [&](const Case& c) {
      return st->outcome == "FAIL" ? !c.failure.empty() : !c.error.empty();
    });
    if ((st->outcome == "FAIL" || st->outcome == "ERROR") && !accounted) {
      Case tc{"outcome", "PASS", "", "", "", ""};
      (st->outcome == "FAIL" ? tc.failure : tc.error) = r.result;
      cases.push_back(tc);
    }
  } else {
    Case tc{r.command, "verified", r.verified ? "verified" : "", "", "", ""};
    if (!r.verified) tc.failure = r.result;
    cases.push_back(tc);
  }
  int failures = 0, errors = 0;
  for (const Case& c : cases) {
    failures += c.failure.empty() ? 0 : 1;
    errors += c.error.empty() ? 0 : 1;
  }
  const std::string start = r.started_utc.empty() ? r.time_utc : r.started_utc;
  std::string duration;
  if (const auto a = EpochSeconds(start), b = EpochSeconds(r.time_utc); a && b && *b >= *a) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.3f", *b - *a);
    duration = text;
  }
  const std::string hostname = st != nullptr ? st->station : Cp1252ToUtf8(r.adapter);
  std::string out = "  <testsuite name=\"" + Xml(serial) + "\" tests=\"" +
                    std::to_string(cases.size()) + "\" failures=\"" + std::to_string(failures) +
                    "\" errors=\"" + std::to_string(errors) + "\" timestamp=\"" + Xml(start) +
                    "\"" + (duration.empty() ? "" : " time=\"" + duration + "\"") +
                    " hostname=\"" + Xml(hostname) + "\">\n    <properties>\n";
  out += Property("unit", serial);
  out += Property("record_id", r.id);
  out += Property("command", r.command);
  out += Property("start", start);
  out += Property("end", r.time_utc);
  out += Property("adapter", Cp1252ToUtf8(r.adapter));
  out += Property("firmware", FormatVersion(r.fw));
  if (st != nullptr) {
    out += Property("station", st->station);
    out += Property("slot", Cp1252ToUtf8(st->slot));
    out += Property("operator", st->operator_name);
    out += Property("version", st->version);
    out += Property("profile_hash", st->profile_hash);
    out += Property("outcome", st->outcome);
    out += Property("retest", st->retest ? "yes" : "no");
    out += Property("duplicate_serial", st->duplicate_serial ? "yes" : "no");
  } else {
    out += Property("outcome", r.verified ? "PASS" : "FAIL");
  }
  for (const auto& [key, value] : r.notes) out += Property("note." + key, value);
  out += "    </properties>\n";
  const std::string classname = st != nullptr ? st->station + "." + Cp1252ToUtf8(st->slot)
                                              : r.command;
  for (const Case& c : cases) {
    out += "    <testcase name=\"" + Xml(c.name) + "\" classname=\"" + Xml(classname) + "\">\n";
    out += "      <properties>\n";
    out += "        <property name=\"expected\" value=\"" + Xml(c.expected) + "\"/>\n";
    if (!c.found.empty())
      out += "        <property name=\"found\" value=\"" + Xml(c.found) + "\"/>\n";
    if (!c.read_back.empty())
      out += "        <property name=\"read_back\" value=\"" + Xml(c.read_back) + "\"/>\n";
    out += "      </properties>\n";
    if (!c.failure.empty()) out += "      <failure message=\"" + Xml(c.failure) + "\"/>\n";
    if (!c.error.empty()) out += "      <error message=\"" + Xml(c.error) + "\"/>\n";
    out += "    </testcase>\n";
  }
  return out + "  </testsuite>\n";
}

bool IsUnit(const CommissionRecord& r) {
  return !(r.station && r.station->outcome == "OUT OF SERVICE");
}

std::optional<std::vector<CommissionRecord>> Fetch(Context& ctx, RecordStore& store,
                                                   const RecordFilter& filter) {
  std::string error;
  auto records = store.Query(filter, error);
  if (!records)
    ctx.err << "zeltoctl: cannot read the record store " << store.Location() << ": " << error
            << "\n";
  return records;
}

}  // namespace

std::string ExportRecords(const std::vector<CommissionRecord>& records, ExportFormat format) {
  std::string out;
  if (format == ExportFormat::kJsonl) {
    for (const CommissionRecord& r : records) out += FormatRecord(r, LogFormat::kJsonl, false);
    return out;
  }
  if (format == ExportFormat::kCsv) {
    const bool station = std::any_of(records.begin(), records.end(),
                                     [](const CommissionRecord& r) { return r.station.has_value(); });
    out = CsvHeader(station);
    // The station's columns a set/apply row leaves empty, so every row has the header's.
    auto commas = [](std::string_view header) {
      return static_cast<std::size_t>(std::count(header.begin(), header.end(), ','));
    };
    const std::size_t extra = station ? commas(CsvHeader(true)) - commas(CsvHeader(false)) : 0;
    for (const CommissionRecord& r : records) {
      std::string row = FormatRecord(r, LogFormat::kCsv, false);
      if (!r.station && extra > 0) row.insert(row.size() - 1, std::string(extra, ','));
      out += row;
    }
    return out;
  }
  std::string suites;
  int tests = 0;
  for (const CommissionRecord& r : records) {
    if (!IsUnit(r)) continue;
    suites += JunitSuite(r);
    ++tests;
  }
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"zeltoctl records\" units=\"" +
         std::to_string(tests) + "\">\n" + suites + "</testsuites>\n";
}

std::string YieldTable(const std::vector<CommissionRecord>& records) {
  struct Counts {
    int pass = 0, fail = 0, error = 0;
  };
  std::map<std::tuple<std::string, std::string, std::string>, Counts> groups;
  for (const CommissionRecord& r : records) {
    if (!r.station) continue;
    const StationFields& st = *r.station;
    if (st.outcome != "PASS" && st.outcome != "FAIL" && st.outcome != "ERROR") continue;
    Counts& c = groups[{r.time_utc.substr(0, 10), st.station, Cp1252ToUtf8(st.slot)}];
    (st.outcome == "PASS" ? c.pass : st.outcome == "FAIL" ? c.fail : c.error) += 1;
  }
  std::vector<std::vector<std::string>> rows{{"day", "station", "slot", "PASS", "FAIL", "ERROR", "yield"}};
  for (const auto& [key, c] : groups) {
    char yield[16];
    std::snprintf(yield, sizeof(yield), "%.1f%%", 100.0 * c.pass / (c.pass + c.fail + c.error));
    rows.push_back({std::get<0>(key), std::get<1>(key), std::get<2>(key), std::to_string(c.pass),
                    std::to_string(c.fail), std::to_string(c.error), yield});
  }
  // Columns as wide as their widest text (in characters, not bytes); names left, counts right.
  std::vector<std::size_t> width(rows[0].size(), 0);
  auto chars = [](const std::string& s) {
    return static_cast<std::size_t>(std::count_if(s.begin(), s.end(), [](char ch) {
      return (static_cast<unsigned char>(ch) & 0xC0) != 0x80;
    }));
  };
  for (const auto& row : rows)
    for (std::size_t i = 0; i < row.size(); ++i) width[i] = std::max(width[i], chars(row[i]));
  std::string out;
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) {
      const std::string pad(width[i] - chars(row[i]), ' ');
      line += (i == 0 ? "" : "  ") + (i < 3 ? row[i] + pad : pad + row[i]);
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out += line + "\n";
  }
  return out;
}

std::string RecordLine(const CommissionRecord& r) {
  std::string line = r.time_utc + "  " + Cp1252ToUtf8(r.serial) + "  ";
  if (r.station) {
    const StationFields& st = *r.station;
    line += "station " + st.station + " slot " + Cp1252ToUtf8(st.slot) + "  " + st.outcome;
    if (st.retest) line += " (re-test)";
    if (st.duplicate_serial) line += " (duplicate serial)";
  } else {
    line += r.command + " on " + Cp1252ToUtf8(r.adapter) + "  " +
            (r.verified ? "verified" : "not verified");
  }
  if (r.after) line += "  " + ParamsText(*r.after, HasHeight(r.fw));
  if (!r.result.empty()) line += "  " + r.result;
  for (const auto& [key, value] : r.notes) line += "  " + key + "=" + value;
  return line + "\n";
}

int CmdRecordsShow(Context& ctx, RecordStore& store, const std::string& serial) {
  RecordFilter filter;
  filter.serial = Utf8ToCp1252(serial);
  const auto records = Fetch(ctx, store, filter);
  if (!records) return kExitFailure;
  if (records->empty()) {
    ctx.err << "zeltoctl: no record of " << serial << " in " << store.Location() << "\n";
    return kExitFailure;
  }
  for (const CommissionRecord& r : *records) ctx.out << RecordLine(r);
  return kExitOk;
}

int CmdRecordsList(Context& ctx, RecordStore& store, const RecordFilter& filter) {
  const auto records = Fetch(ctx, store, filter);
  if (!records) return kExitFailure;
  for (const CommissionRecord& r : *records) ctx.out << RecordLine(r);
  return kExitOk;
}

int CmdRecordsYield(Context& ctx, RecordStore& store, const RecordFilter& filter) {
  const auto records = Fetch(ctx, store, filter);
  if (!records) return kExitFailure;
  ctx.out << YieldTable(*records);
  return kExitOk;
}

int CmdRecordsExport(Context& ctx, RecordStore& store, const RecordFilter& filter,
                     ExportFormat format, const std::string& output) {
  const auto records = Fetch(ctx, store, filter);
  if (!records) return kExitFailure;
  const std::string text = ExportRecords(*records, format);
  if (output.empty()) {
    ctx.out << text;
    return kExitOk;
  }
  std::string error;
  if (!WriteWhole(output, text, error)) {
    ctx.err << "zeltoctl: " << error << "\n";
    return kExitFailure;
  }
  if (!ctx.quiet) ctx.err << output << ": " << records->size() << " record(s)\n";
  return kExitOk;
}

int CmdReportFromStore(Context& ctx, RecordStore& store, const RecordFilter& filter,
                       const std::string& html_path, const std::string& lang) {
  const auto records = Fetch(ctx, store, filter);
  if (!records) return kExitFailure;
  // Through the log's own reader, as the records would be read from a log.
  std::istringstream lines(ExportRecords(*records, ExportFormat::kJsonl));
  int skipped = 0;
  const auto entries = ReadCommissioningLog(lines, skipped);
  std::string error;
  if (!WriteWhole(html_path, BatchReportHtml(entries, store.Location(), ctx.strings, lang), error)) {
    ctx.err << "zeltoctl: " << error << "\n";
    return kExitFailure;
  }
  ctx.out << html_path << ": " << entries.size() << " record(s)\n";
  return kExitOk;
}

}  // namespace zelto::cli
