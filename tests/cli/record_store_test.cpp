// SPDX-License-Identifier: MIT
// The SQLite record store: awkward records stored and shown as they are (one table), the
// filters, the outbox and the exports over one small line of records, and databases that are
// not to be touched (newer, foreign) left byte for byte as they were.
#include "cli/sqlite_store.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "cli/records_commands.h"
#include "core/text/cp1252.h"
#include "tests/support/temp_folder.h"

namespace zelto::cli {
namespace {

CommissionRecord Unit(const std::string& time, const std::string& serial, const std::string& station,
                      const std::string& slot, const std::string& outcome,
                      const std::string& hash = "fnv1a64:1") {
  CommissionRecord r;
  r.time_utc = time;
  r.started_utc = time.substr(0, 20) + "000Z";
  r.command = station.empty() ? "apply" : "station";
  r.adapter = "ZP1";
  r.serial = serial;
  r.hw = 0x102;
  r.fw = 0x200;
  r.before = RadarParams{};
  r.after = RadarParams{{7, 1, 2, 0, 0, 1}};
  r.verified = outcome == "PASS";
  r.result = outcome == "PASS" ? "verified" : "sensitivity: wrote 7, sensor has 5";
  if (station.empty()) return r;
  StationFields st;
  st.station = station;
  st.slot = slot;
  st.profile_hash = hash;
  st.outcome = outcome;
  st.checks = {ParamCheck{kSensitivity, 5, 7, outcome == "PASS" ? 7 : 5},
               ParamCheck{kRelayTime, 1, std::nullopt, 1}};
  r.station = st;
  return r;
}

std::unique_ptr<SqliteRecordStore> OpenOrFail(const std::filesystem::path& path) {
  std::string error;
  auto store = SqliteRecordStore::Open(path.string(), error);
  EXPECT_TRUE(store) << error;
  return store;
}

struct Awkward {
  const char* name;
  std::string serial;  // Windows-1252 bytes, as a sensor sends them
  std::string station, slot, note;
};

// Each record is stored, found by its own serial only, and comes back field for field, its
// texts as they were; a record sent again (same id) is not stored twice.
TEST(SqliteRecordStore, AwkwardRecordsStoredAndShownAsTheyAre) {
  const std::vector<Awkward> rows = {
      {"quotes", "ZS\"1'2", "O'Brien \"line\"", "A'1", "say \"hi\""},
      {"sql", "'; DROP TABLE records; --", "x'); DELETE FROM records; --", "s;1", "a;b;c"},
      {"like_wildcards", "%", "_", "%_", "100%"},
      {"non_ascii", "\xC4\x80\x9D", "L\xC3\xADnea 1 \xE2\x80\x94 \xE6\x9D\xB1\xE4\xBA\xAC",
       "\xE9", "gr\xC3\xB6\xC3\x9F" "e=\xC2\xBD"},
      {"empty", "", "", "", ""},
  };
  test::TempFolder folder;
  auto store = OpenOrFail(folder.path() / "sub" / "records.sqlite");
  ASSERT_TRUE(store);
  for (const Awkward& row : rows) {
    SCOPED_TRACE(row.name);
    CommissionRecord r = Unit("2026-12-10T03:00:00.000Z", row.serial, row.station, row.slot, "PASS");
    r.notes = {{"note", row.note}, {"empty", ""}};
    std::string error;
    ASSERT_TRUE(store->Append(r, error)) << error;
    EXPECT_TRUE(std::regex_match(r.id, std::regex("[0-9a-f]{32}"))) << r.id;
    CommissionRecord again = r;
    ASSERT_TRUE(store->Append(again, error)) << error;

    RecordFilter filter;
    filter.serial = row.serial;
    const auto found = store->Query(filter, error);
    ASSERT_TRUE(found) << error;
    // An empty serial filters nothing: the record is then found among all.
    if (!row.serial.empty()) {
      ASSERT_EQ(found->size(), 1u);
    }
    const auto it = std::find_if(found->begin(), found->end(),
                                 [&](const CommissionRecord& x) { return x.id == r.id; });
    ASSERT_NE(it, found->end());
    const CommissionRecord& back = *it;
    EXPECT_EQ(back.id, r.id);
    EXPECT_EQ(back.started_utc, r.started_utc);
    EXPECT_EQ(back.serial, r.serial);
    EXPECT_EQ(FormatRecord(back, LogFormat::kJsonl, false), FormatRecord(r, LogFormat::kJsonl, false));
    EXPECT_EQ(FormatRecord(back, LogFormat::kCsv, true), FormatRecord(r, LogFormat::kCsv, true));
    const std::string line = RecordLine(back);
    EXPECT_NE(line.find(Cp1252ToUtf8(row.serial)), std::string::npos) << line;
    EXPECT_NE(line.find("note=" + row.note), std::string::npos) << line;
    if (!row.station.empty()) {
      filter.station = row.station;
      filter.slot = row.slot;
      EXPECT_EQ(store->Query(filter, error)->size(), 1u);
      const auto passes = store->Passes(row.serial, row.station, error);
      ASSERT_TRUE(passes) << error;
      EXPECT_TRUE(passes->here);
      EXPECT_FALSE(passes->elsewhere);
    }
  }
  std::string error;
  EXPECT_EQ(store->Query(RecordFilter{}, error)->size(), rows.size());
}

// One small line: two stations, three days, a set/apply record beside the station's, stored
// out of time order.
class Line : public ::testing::Test {
 protected:
  void SetUp() override {
    store_ = OpenOrFail(folder_.path() / "records.sqlite");
    ASSERT_TRUE(store_);
    for (CommissionRecord r : {Unit("2026-12-09T11:00:00.000Z", "X", "B", "s1", "PASS", "h2"),
                               Unit("2026-12-08T10:00:00.000Z", "X", "A", "s1", "PASS", "h1"),
                               Unit("2026-12-09T10:00:00.000Z", "Y", "A", "s2", "FAIL", "h1"),
                               Unit("2026-12-10T09:00:00.000Z", "X", "", "", "PASS")}) {
      std::string error;
      ASSERT_TRUE(store_->Append(r, error)) << error;
    }
  }
  std::vector<CommissionRecord> All() {
    std::string error;
    return *store_->Query(RecordFilter{}, error);
  }
  test::TempFolder folder_;
  std::unique_ptr<SqliteRecordStore> store_;
};

TEST_F(Line, FiltersMatchAndComeInTimeOrder) {
  struct Row {
    RecordFilter filter;
    std::vector<std::string> days_hours;  // time_utc's "DDTHH" of the records, in order
  };
  auto f = [](auto set) {
    RecordFilter filter;
    set(filter);
    return filter;
  };
  const std::vector<Row> rows = {
      {RecordFilter{}, {"08T10", "09T10", "09T11", "10T09"}},
      {f([](auto& x) { x.since = "2026-12-09"; }), {"09T10", "09T11", "10T09"}},
      {f([](auto& x) { x.since = "2026-12-09T10:30:00"; }), {"09T11", "10T09"}},
      {f([](auto& x) { x.station = "A"; }), {"08T10", "09T10"}},
      {f([](auto& x) { x.slot = "s1"; }), {"08T10", "09T11"}},
      {f([](auto& x) { x.outcome = "PASS"; }), {"08T10", "09T11"}},
      {f([](auto& x) { x.profile_hash = "h2"; }), {"09T11"}},
      {f([](auto& x) { x.serial = "X"; x.since = "2026-12-09"; }), {"09T11", "10T09"}},
      {f([](auto& x) { x.limit = 2; }), {"08T10", "09T10"}},
      {f([](auto& x) { x.station = "a"; }), {}},
  };
  for (std::size_t i = 0; i < rows.size(); ++i) {
    std::string error;
    const auto found = store_->Query(rows[i].filter, error);
    ASSERT_TRUE(found) << error;
    std::vector<std::string> got;
    for (const auto& r : *found) got.push_back(r.time_utc.substr(8, 5));
    EXPECT_EQ(got, rows[i].days_hours) << "row " << i;
  }
  std::string error;
  const auto x = store_->Passes("X", "A", error), y = store_->Passes("Y", "A", error);
  ASSERT_TRUE(x && y) << error;
  EXPECT_TRUE(x->here && x->elsewhere);
  EXPECT_FALSE(y->here || y->elsewhere);
}

TEST_F(Line, OutboxShipsInStoredOrderOnce) {
  std::string error;
  const auto first = store_->Unshipped(2, error);
  ASSERT_TRUE(first) << error;
  ASSERT_EQ(first->size(), 2u);
  EXPECT_EQ(first->at(0).time_utc, "2026-12-09T11:00:00.000Z");  // stored first
  ASSERT_TRUE(store_->MarkShipped({first->at(0).id, first->at(1).id, "not-an-id"}, error)) << error;
  EXPECT_EQ(store_->UnshippedCount(error), 2);
  const auto rest = store_->Unshipped(0, error);
  ASSERT_EQ(rest->size(), 2u);
  EXPECT_EQ(rest->at(0).time_utc, "2026-12-09T10:00:00.000Z");
}

TEST_F(Line, YieldAndExports) {
  const auto all = All();
  const std::string yield = YieldTable(all);
  EXPECT_TRUE(std::regex_search(yield, std::regex("2026-12-09 +A +s2 +0 +1 +0 +0\\.0%\n"))) << yield;
  EXPECT_TRUE(std::regex_search(yield, std::regex("2026-12-08 +A +s1 +1 +0 +0 +100\\.0%\n"))) << yield;
  EXPECT_EQ(std::count(yield.begin(), yield.end(), '\n'), 4);  // the header, three groups

  // CSV: the station's header, and the apply row padded to its columns.
  std::istringstream csv(ExportRecords(all, ExportFormat::kCsv));
  std::string header;
  std::getline(csv, header);
  EXPECT_EQ(header + "\n", CsvHeader(true));
  auto fields = [](const std::string& line) {
    int n = 1;
    bool quoted = false;
    for (char c : line) {
      if (c == '"') quoted = !quoted;
      if (c == ',' && !quoted) ++n;
    }
    return n;
  };
  for (std::string row; std::getline(csv, row);) EXPECT_EQ(fields(row), fields(header)) << row;
  std::string jsonl;
  for (const auto& r : all) jsonl += FormatRecord(r, LogFormat::kJsonl, false);
  EXPECT_EQ(ExportRecords(all, ExportFormat::kJsonl), jsonl);

  // JUnit: a suite per unit; the failed unit's sensitivity fails with both values, the
  // parameter the profile does not name is no test case.
  const std::string xml = ExportRecords(all, ExportFormat::kJunit);
  EXPECT_NE(xml.find("units=\"4\""), std::string::npos);
  EXPECT_NE(xml.find("<testsuite name=\"Y\" tests=\"1\" failures=\"1\" errors=\"0\" "
                     "timestamp=\"2026-12-09T10:00:00.000Z\" time=\"0.000\" hostname=\"A\">"),
            std::string::npos)
      << xml;
  EXPECT_NE(xml.find("<failure message=\"expected 7, read back 5\"/>"), std::string::npos);
  EXPECT_EQ(xml.find("name=\"relay\""), std::string::npos);
}

// A database this zeltoctl must not write to is refused with a clear reason, and its file is
// the same afterwards, byte for byte and to the modification time.
TEST(SqliteRecordStore, NewerAndForeignDatabasesRefusedUntouched) {
  struct Row {
    const char* name;
    const char* sql;
    const char* reason;
  };
  const std::vector<Row> rows = {
      {"newer", "PRAGMA user_version = 99", "written by a newer zeltoctl (schema version 99"},
      {"foreign", "PRAGMA application_id = 7", "not a zeltoctl record database"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    test::TempFolder folder;
    const auto path = folder.path() / "records.sqlite";
    {
      auto store = OpenOrFail(path);
      ASSERT_TRUE(store);
      CommissionRecord r = Unit("2026-12-10T03:00:00.000Z", "X", "A", "s1", "PASS");
      std::string error;
      ASSERT_TRUE(store->Append(r, error));
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.string().c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, row.sql, nullptr, nullptr, nullptr), SQLITE_OK);
    // Everything into the main file, so that it alone is the database.
    EXPECT_EQ(sqlite3_exec(db, "PRAGMA journal_mode = DELETE", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    auto bytes = [&] {
      std::ifstream in(path, std::ios::binary);
      return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const std::string before = bytes();
    const auto mtime = std::filesystem::last_write_time(path);
    std::string error;
    EXPECT_FALSE(SqliteRecordStore::Open(path.string(), error));
    EXPECT_NE(error.find(row.reason), std::string::npos) << error;
    EXPECT_EQ(bytes(), before);
    EXPECT_EQ(std::filesystem::last_write_time(path), mtime);
  }
}

}  // namespace
}  // namespace zelto::cli
