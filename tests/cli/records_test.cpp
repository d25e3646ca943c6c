// SPDX-License-Identifier: MIT
// Profiles and commissioning records: what is accepted, what a record looks like, and that
// a log file gets its header once and whole lines only.
#include "cli/records.h"

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>

#include "cli/platform.h"
#include "cli/walk_report.h"
#include "tests/support/temp_folder.h"

namespace zelto::cli {
namespace {

TEST(Profile, RoundTripAndHandEditedForms) {
  Profile p;
  p.wire[kSensitivity] = 7;
  p.wire[kRelayTime] = 3;
  p.wire[kHeight] = 2;
  const std::string text = ProfileToJson(p);
  EXPECT_NE(text.find("\"zeltoctl_profile\": 1"), std::string::npos);
  EXPECT_NE(text.find("\"relay\": 1.5"), std::string::npos);
  std::string error;
  const auto back = ProfileFromJson(text, error);
  ASSERT_TRUE(back) << error;
  EXPECT_EQ(back->wire, p.wire);

  // Written by hand: integers for halves that are whole, 2.90 for 2.9, fields in any order.
  const auto hand = ProfileFromJson(
      R"({"parameters": {"height": 2.90, "relay": 2, "filter": 60}, "zeltoctl_profile": 1})",
      error);
  ASSERT_TRUE(hand) << error;
  EXPECT_EQ(hand->wire[kRelayTime], 4);
  EXPECT_EQ(hand->wire[kHeight], 1);
  EXPECT_EQ(hand->wire[kMainsFilter], 2);
  EXPECT_FALSE(hand->wire[kSensitivity]);
}

TEST(Profile, RejectsWhatItCannotApplyExactly) {
  const std::vector<std::pair<const char*, const char*>> bad = {
      {"", "not valid JSON at line 1, column 1"},
      {"{\n  \"zeltoctl_profile\": 1,\n  \"parameters\": {\"relay\" 2}\n}", "line 3, column 26"},
      {R"({"zeltoctl_profile": 1, "parameters": {"relay": 2, "relay": 3}})", "\"relay\" is given twice"},
      {R"({"zeltoctl_profile": 1, "zeltoctl_profile": 1, "parameters": {"relay": 2}})", "twice"},
      {R"({"zeltoctl_profile": 1, "parameters": {}})", "names no parameter"},
      {R"({"zeltoctl_profile": 0, "parameters": {"relay": 2}})", "not supported"},
      {"[1]", "not a JSON object"},
      {R"({"parameters": {}})", "format version"},
      {R"({"zeltoctl_profile": "1", "parameters": {}})", "format version"},
      {R"({"zeltoctl_profile": 2, "parameters": {}})", "not supported"},
      {R"({"zeltoctl_profile": 1})", "parameters"},
      {R"({"zeltoctl_profile": 1, "device": "Other", "parameters": {}})", "not Duroz740"},
      {R"({"zeltoctl_profile": 1, "parameters": {"gain": 3}})", "unknown parameter"},
      {R"({"zeltoctl_profile": 1, "parameters": {"relay": 1.25}})", "relay"},
      {R"({"zeltoctl_profile": 1, "parameters": {"sensitivity": "5"}})", "sensitivity"},
      {R"({"zeltoctl_profile": 1, "parameters": {"sensitivity": 0}})", "sensitivity"},
      // What the JSON reader itself refuses.
      {R"({"zeltoctl_profile": 1, "parameters": {"sensitivity": 1e309}})", "out of range"},
      {R"({"zeltoctl_profile": 1, "parameters": {"sensitivity": -1e309}})", "-1e309"},
      {R"({"zeltoctl_profile": 4294967297, "parameters": {"relay": 2}})", "not supported"},
      {R"({"zeltoctl_profile": 18446744073709551617, "parameters": {"relay": 2}})", "format version"},
      {"{\"zeltoctl_profile\": 1, \"parameters\": {\"relay\": \"\xC3\"}}", "UTF-8"},
      {"{\"zeltoctl_profile\": 1, \"parameters\": {\"relay\": [[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[["
       "]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]}}",
       "deeper"},
  };
  for (const auto& [text, why] : bad) {
    std::string error;
    EXPECT_FALSE(ProfileFromJson(text, error)) << text;
    EXPECT_NE(error.find(why), std::string::npos) << text << " -> " << error;
  }
}

CommissionRecord SampleRecord() {
  CommissionRecord r;
  r.time_utc = "2026-12-09T01:02:03Z";
  r.command = "apply";
  r.adapter = "ZP100000";
  r.serial = "ZS\xE8,7\"40";  // a Windows-1252 e-grave, a comma and a quote
  r.hw = 0x0102;
  r.fw = 0x01FF;
  RadarParams p;
  p.wire = {5, 3, 1, 0, 0, 2};
  r.before = p;
  r.verified = false;
  r.result = "interrupted";
  r.skipped = "height";
  r.notes = {{"site", "Hall 3\r\nGate"}, {"operator", "Ann"}};
  return r;
}

TEST(CommissionLog, SensorTextIsConvertedAndQuoted) {
  CommissionRecord r = SampleRecord();
  const auto j = nlohmann::json::parse(FormatRecord(r, LogFormat::kJsonl, false));
  EXPECT_EQ(j["serial"], "ZS\xC3\xA8,7\"40");
  EXPECT_EQ(j["fw"], "1FF");
  EXPECT_FALSE(j["before"].contains("height"));  // no height below firmware 200
  EXPECT_EQ(j["before"]["relay"], 1.5);
  EXPECT_TRUE(j["after"].is_null());
  EXPECT_EQ(j["skipped"], "height");
  EXPECT_EQ(j["notes"]["site"], "Hall 3\r\nGate");
  EXPECT_EQ(j["notes"]["operator"], "Ann");
  // A line break inside a field stays inside its quotes, so the row stays one record.
  EXPECT_EQ(FormatRecord(r, LogFormat::kCsv, false),
            "2026-12-09T01:02:03Z,apply,ZP100000,\"ZS\xC3\xA8,7\"\"40\",102,1FF,"
            "sensitivity=5 relay=1.5 speed=1 filter=0 traffic=0,,no,interrupted,height,"
            "\"site=Hall 3\r\nGate operator=Ann\"\n");
  r.notes = {{"label", "cr\ronly"}};
  EXPECT_NE(FormatRecord(r, LogFormat::kCsv, false).find(",\"label=cr\ronly\"\n"),
            std::string::npos);
  EXPECT_TRUE(std::regex_match(UtcNow(), std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)")))
      << UtcNow();
}

TEST(CommissionLog, HeaderOnceThenWholeRecordsAppended) {
  zelto::test::TempFolder folder;
  // A name outside ASCII and outside any ANSI code page: it must reach the file system whole.
  const std::filesystem::path name = PathFromUtf8("r\xC3\xA9" "cord \xE2\x82\xAC \xCE\xA9.csv");
  const std::string path = PathToUtf8(folder.path() / name);
  std::string error;
  CommissionRecord r = SampleRecord();
  r.notes.clear();
  ASSERT_TRUE(AppendRecord(path, r, LogFormat::kCsv, error)) << error;
  ASSERT_TRUE(AppendRecord(path, r, LogFormat::kCsv, error)) << error;
  ASSERT_EQ(std::filesystem::directory_iterator(folder.path())->path().filename(), name);
  std::ifstream in(folder.path() / name, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 3u);
  // Byte for byte the same on every system: no CR before the LF.
  EXPECT_EQ(lines[0],
            "time,command,adapter,serial,hw,fw,before,after,verified,result,skipped,notes");
  EXPECT_EQ(lines[1], lines[2]);

  EXPECT_FALSE(AppendRecord((folder.path() / "no" / "log").string(), SampleRecord(),
                            LogFormat::kJsonl, error));
  EXPECT_FALSE(error.empty());
}

// A station's log: its columns after the older ones, each parameter as found/expected/read
// back, and the report's reader taking the station's rows and the set/apply rows added to the
// same log later (which have only the older columns).
TEST(CommissionLog, StationRecordsKeepTheOlderColumnsReadable) {
  for (const LogFormat format : {LogFormat::kCsv, LogFormat::kJsonl}) {
    zelto::test::TempFolder folder;
    const std::string path = PathToUtf8(folder.path() / "station.log");
    CommissionRecord r = SampleRecord();
    r.notes = {{"site", "Hall3"}};
    r.command = "station";
    StationFields st;
    st.station = "line-1";
    st.slot = "@0x0111";
    st.operator_name = "Ann";
    st.outcome = "FAIL";
    st.retest = true;
    st.checks.push_back(ParamCheck{kSensitivity, 5, 7, 5});
    st.checks.push_back(ParamCheck{kRelayTime, 3, std::nullopt, std::nullopt});
    r.station = st;
    std::string error;
    ASSERT_TRUE(AppendRecord(path, r, format, error)) << error;
    CommissionRecord older = SampleRecord();
    older.notes = r.notes;
    ASSERT_TRUE(AppendRecord(path, older, format, error)) << error;
    const std::string line = FormatRecord(r, format, false);
    if (format == LogFormat::kCsv) {
      EXPECT_NE(line.find(",line-1,@0x0111,Ann,,,FAIL,yes,no,sensitivity=5/7/5 relay=1.5/-/-\n"),
                std::string::npos)
          << line;
    } else {
      const auto j = nlohmann::json::parse(line);
      EXPECT_EQ(j["checks"]["sensitivity"]["expected"], 7);
      EXPECT_TRUE(j["checks"]["relay"]["read_back"].is_null());
      EXPECT_EQ(j["outcome"], "FAIL");
    }
    int skipped = -1;
    const auto entries = ReadCommissioningLog(path, skipped);
    ASSERT_TRUE(entries);
    EXPECT_EQ(skipped, 0);
    ASSERT_EQ(entries->size(), 2u);
    EXPECT_EQ((*entries)[0].outcome, "FAIL");
    EXPECT_EQ((*entries)[1].command, "apply");
    EXPECT_EQ((*entries)[1].notes, (*entries)[0].notes);
  }
}

}  // namespace
}  // namespace zelto::cli
