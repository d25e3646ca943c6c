// SPDX-License-Identifier: MIT
// The zeltoctl executable as a shell runs it, on the simulated bench: exit codes, signals
// and a closed pipe (one table), what --help shows and what the manual page must list.
#include <gtest/gtest.h>

#ifdef ZELTO_HAVE_SQLITE_STORE
#include <sqlite3.h>
#endif

#include <memory>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/zeltoctl_process.h"

namespace {

constexpr int kClosePipe = -1;  // instead of a signal: stop reading stdout

struct Ran {
  int code = -1;
  std::string out, err;
};

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// Runs zeltoctl; with `signal`, sends it once the first line of output has come (or `times`
// lines with `wait_for`).
Ran RunZeltoctl(const std::vector<std::string>& args, int signal = 0,
                const std::string& wait_for = "\n", std::size_t times = 1) {
  zelto::test::Zeltoctl z(args);
  Ran r;
  if (signal != 0) {
    // The first line must come while the command still runs: stdout is not held back.
    while (Count(r.out, wait_for) < times)
      if (!z.ReadSome(r.out, 10000)) break;
    EXPECT_GE(Count(r.out, wait_for), times) << "not enough output before the signal";
    if (signal == kClosePipe)
      z.CloseOut();
    else
      z.Signal(signal);
  }
  while (z.ReadSome(r.out, 20000)) {
  }
  r.code = z.Wait();
  r.err = z.Err();
  return r;
}

struct Case {
  const char* name;
  std::vector<std::string> args;
  int signal;
  int code;
  const char* out_has;  // "" : stdout must be empty
  const char* err_has;  // "" : stderr must be empty
};

// Named by its row: printed as raw bytes, the pointers would make the name differ every build.
void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

class ExitCodes : public ::testing::TestWithParam<Case> {};

TEST_P(ExitCodes, AsAShellSeesThem) {
  const Case& c = GetParam();
  const Ran r = RunZeltoctl(c.args, c.signal);
  EXPECT_EQ(r.code, c.code) << r.err;
  if (*c.out_has == '\0')
    EXPECT_EQ(r.out, "");
  else
    EXPECT_NE(r.out.find(c.out_has), std::string::npos) << r.out;
  if (*c.err_has == '\0')
    EXPECT_EQ(r.err, "");
  else
    EXPECT_NE(r.err.find(c.err_has), std::string::npos) << r.err;
}

const std::vector<std::string> kMonitor = {"--sim", "monitor"};

// Ended by a signal or a closed pipe, the sensor is stopped and the summary still printed
// (the walk-test line comes from the orderly end, after report mode 0).
INSTANTIATE_TEST_SUITE_P(
    Zeltoctl, ExitCodes,
    ::testing::Values(
        Case{"sigint", kMonitor, SIGINT, 130, "walk test: ", ""},
        Case{"sigterm", kMonitor, SIGTERM, 143, "walk test: ", ""},
        Case{"sighup", kMonitor, SIGHUP, 129, "walk test: ", ""},
        Case{"closed_pipe", kMonitor, kClosePipe, 141, "level", ""},
        Case{"sigterm_csv", {"--sim", "monitor", "--csv"}, SIGTERM, 143, "time_s,", "walk test"},
        Case{"unknown_command", {"--sim", "frobnicate"}, 0, 2, "", "unknown command \"frobnicate\""},
        Case{"no_command", {"--sim"}, 0, 2, "", "no command"},
        Case{"negative_seconds", {"--sim", "monitor", "--seconds", "-1"}, 0, 2, "", "--seconds"},
        Case{"sim_param_over_255", {"--sim", "--sim-params", "300,1,1,1,1", "get"}, 0, 2, "",
             "--sim-params"},
        Case{"bad_sim_fw", {"--sim", "--sim-fw", "0x2g", "get"}, 0, 2, "", "--sim-fw"},
        Case{"count_needs_each", {"--sim", "apply", "p.json", "--count", "2"}, 0, 2, "", "--each"},
        Case{"v_is_not_version", {"-v"}, 0, 2, "", "-v"},
        Case{"unknown_option_before_command", {"--sim", "--frobnicate", "get"}, 0, 2, "",
             "--frobnicate"},
        Case{"unknown_option_after_command", {"--sim", "get", "--frobnicate"}, 0, 2, "",
             "--frobnicate"},
        Case{"word_after_command", {"--sim", "get", "extra"}, 0, 2, "",
             "get: unexpected argument \"extra\""},
        Case{"log_after_command", {"--sim", "apply", "/no/such/p.json", "--log", "/no/such/l.csv"},
             0, 1, "", "cannot read /no/such/p.json"},
        Case{"missing_profile", {"--sim", "apply", "/no/such/p.json"}, 0, 1, "",
             "zeltoctl: cannot read /no/such/p.json: No such file"},
        Case{"log_folder_missing",
             {"--sim", "--log", "/no/such/folder/x.csv", "set", "sensitivity=7"}, 0, 1, "",
             "zeltoctl: cannot open the log /no/such/folder/x.csv: No such file"},
        Case{"quiet_set", {"--sim", "-q", "set", "sensitivity=7"}, 0, 0, "", ""},
        Case{"list_json", {"--sim", "list", "--json"}, 0, 0, "\"programmers\": 1", ""},
        Case{"help_placeholders", {"--help"}, 0, 0, "--adapter SERIAL", ""},
        Case{"help_log_file", {"--help"}, 0, 0, "--log FILE", ""},
        Case{"station_check_shared_and_held",
             {"--sim", "--sim-adapters", "3", "--sim-fault", "1:same-serial", "--sim-fault",
              "2:held", "station", "--check"},
             0, 4, "slot @0x0112: serial ZP100000, location 0x0112 (serial shared", ""},
        Case{"records_turned_off", {"--records", "none", "records", "list"}, 0, 2, "",
             "the record store is turned off"},
        Case{"records_cannot_open",
             {"--sim", "--records", "/proc/no/such/r.sqlite", "set", "sensitivity=7"}, 0, 1, "",
             "cannot open the record store /proc/no/such/r.sqlite"},
        Case{"station_sigterm",
             {"--sim", "--sim-adapters", "2", "station", ZELTO_SOURCE_DIR "/tests/cli/station_profile.json"},
             SIGTERM, 143, "\"event\":\"summary\"", ""}),
    [](const auto& info) { return std::string(info.param.name); });

// Every option of the program is taken before the command and after it, for every command,
// and both orders do the same. With no programmer on the simulated bus each command ends
// at once after its options were read (3), the doctor without --sim, the report on a
// missing log (1).
TEST(OptionOrder, BeforeAndAfterEveryCommand) {
  const std::vector<std::vector<std::string>> options = {
      {"--adapter", "ZP1"},         {"--timeout-ms", "50"},    {"--tries", "2"},
      {"--log-format", "jsonl"},    {"--note", "site=hall"},   {"--strings", "/no/such"},
      {"--lang", "it"},             {"--verbose"},             {"-q"},
      {"--quiet"},                  {"--sim-fw", "0x01FF"},    {"--sim-serial", "ZS1"},
      {"--sim-swap-ms", "100"},     {"--sim-params", "5,2,1,0,0"},
      {"--sim-refuse", "relay=2"},  {"--sim-held"},            {"--sim-silent-after-ms", "5"},
      {"--sim-silent-for-ms", "5"}, {"--sim-walk-every-ms", "500"}, {"--log", "/no/such/l.csv"},
      {"--records", "none"}};
  struct Command {
    std::vector<std::string> args;
    bool sim;
  };
  const std::vector<Command> commands = {
      {{"list"}, true},          {{"info", "--json"}, true},
      {{"get"}, true},           {{"set", "sensitivity=5"}, true},
      {{"save", "/no/such/p.json"}, true},
      {{"apply", "/no/such/p.json"}, true},
      {{"verify", "/no/such/p.json"}, true},
      {{"monitor", "--seconds", "1"}, true},
      {{"walk", "--seconds", "1"}, true},
      {{"report", "/no/such/log.csv", "--html", "/no/such/r.html"}, true},
      {{"doctor", "--json"}, false}};
  for (const Command& command : commands) {
    for (const auto& option : options) {
      if (!command.sim && option[0].rfind("--sim", 0) == 0) continue;
      // The bench's own options go last too.
      const std::vector<std::string> bench =
          command.sim ? std::vector<std::string>{"--sim", "--sim-adapters", "0"}
                      : std::vector<std::string>{};
      std::vector<std::string> first = bench, last = command.args;
      first.insert(first.end(), option.begin(), option.end());
      first.insert(first.end(), command.args.begin(), command.args.end());
      last.insert(last.end(), option.begin(), option.end());
      last.insert(last.end(), bench.begin(), bench.end());
      const Ran before = RunZeltoctl(first), after = RunZeltoctl(last);
      const std::string what = command.args[0] + " " + option[0];
      EXPECT_NE(before.code, 2) << what << ": " << before.err;
      EXPECT_EQ(after.code, before.code) << what << ": " << after.err;
      EXPECT_EQ(after.err, before.err) << what;
    }
  }
}

// The profile that ended zeltoctl with an uncaught exception (exit 134): a usage error now,
// for apply and verify alike.
TEST(UnreadableProfile, IsAUsageErrorNotACrash) {
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("zeltoctl-1e309-" + std::to_string(::getpid()) + ".json"))
                               .string();
  std::ofstream(path) << R"({"zeltoctl_profile": 1, "device": "Duroz740", )"
                      << R"("parameters": {"sensitivity": 1e309}})";
  for (const char* command : {"apply", "verify"}) {
    const Ran r = RunZeltoctl({"--sim", command, path});
    EXPECT_EQ(r.code, 2) << command << ": " << r.err;
    EXPECT_NE(r.err.find("number overflow parsing '1e309'"), std::string::npos) << r.err;
  }
  std::filesystem::remove(path);
}

// Every option --help shows, the simulated bench's included, is in the manual page.
TEST(ManualPage, ListsEveryOption) {
  std::ifstream in(std::string(ZELTO_SOURCE_DIR) + "/cli/zeltoctl.1");
  std::stringstream page;
  page << in.rdbuf();
  std::set<std::string> options;
  for (const char* command :
       {"", "list", "info", "get", "set", "save", "apply", "verify", "monitor", "walk", "report", "station",
        "doctor", "records show", "records list", "records yield", "records export", "records status",
        "records sync"}) {
    std::vector<std::string> args;
    std::istringstream words(command);
    for (std::string word; words >> word;) args.push_back(word);
    args.push_back("--help");
    const Ran r = RunZeltoctl(args);
    ASSERT_EQ(r.code, 0) << command;
    const std::regex option(R"((^|[ ,])(-(-[a-z][a-z-]*|[a-z])))");
    for (std::sregex_iterator it(r.out.begin(), r.out.end(), option), end; it != end; ++it)
      options.insert((*it)[2]);
  }
  EXPECT_GT(options.size(), 25u);
  for (const std::string& o : options) {
    if (o == "-h" || o == "--help") continue;
    std::string escaped;
    for (char c : o) escaped += c == '-' ? std::string("\\-") : std::string(1, c);
    EXPECT_NE(page.str().find(escaped), std::string::npos) << o << " is not in zeltoctl.1";
  }
}

#ifdef ZELTO_HAVE_SQLITE_STORE
// A station killed outright (SIGKILL: no handler runs, nothing is closed) in the middle of a
// run: the database opens cleanly and holds every unit whose outcome the event stream had
// reported; the only units missing are those in flight.
TEST(RecordStore, StationKilledLosesNoReportedUnit) {
  const std::string db = (std::filesystem::temp_directory_path() /
                          ("zeltoctl-kill-" + std::to_string(::getpid()) + ".sqlite"))
                             .string();
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(db + suffix);
  constexpr int kSlots = 4;
  const Ran r = RunZeltoctl({"--sim", "--sim-adapters", std::to_string(kSlots), "--sim-hold-ms",
                             "20", "--sim-gap-ms", "5", "--records", db, "station",
                             ZELTO_SOURCE_DIR "/tests/cli/station_profile.json"},
                            SIGKILL, "\"event\":\"outcome\"", 12);
  EXPECT_EQ(r.code, 1000 + SIGKILL) << r.err;
  std::multiset<std::string> reported, stored;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) {
    const auto event = nlohmann::json::parse(line, nullptr, false);
    if (event.is_object() && event.value("event", "") == "outcome")
      reported.insert(event.value("serial", "") + " " + event.value("outcome", ""));
  }
  ASSERT_GE(reported.size(), 12u);

  sqlite3* handle = nullptr;
  ASSERT_EQ(sqlite3_open_v2(db.c_str(), &handle, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> close(handle, sqlite3_close_v2);
  auto rows = [&](const char* sql) {
    std::vector<std::string> out;
    sqlite3_stmt* s = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(handle, sql, -1, &s, nullptr), SQLITE_OK) << sqlite3_errmsg(handle);
    while (sqlite3_step(s) == SQLITE_ROW)
      out.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)));
    sqlite3_finalize(s);
    return out;
  };
  EXPECT_EQ(rows("PRAGMA integrity_check"), std::vector<std::string>{"ok"});
  for (const std::string& row : rows("SELECT serial || ' ' || outcome FROM records")) stored.insert(row);
  for (const std::string& unit : reported) EXPECT_EQ(stored.count(unit), reported.count(unit)) << unit;
  // Recorded but not yet reported when the signal came: at most one unit a slot.
  EXPECT_LE(stored.size(), reported.size() + kSlots);
  close.reset();
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(db + suffix);
}

// Two stations on one database, one after the other, with the same sensor: the second's PASS
// is a re-test, and one of a serial that passed at another station, a duplicate; its own
// station again is a re-test only. `records show` lists all three.
TEST(RecordStore, StationsSeeEachOthersPasses) {
  const std::string db = (std::filesystem::temp_directory_path() /
                          ("zeltoctl-line-" + std::to_string(::getpid()) + ".sqlite"))
                             .string();
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(db + suffix);
  struct Row {
    const char* station;
    const char* flags;
  };
  for (const Row& row : {Row{"line-1", "\"retest\":false,\"duplicate_serial\":false"},
                         Row{"line-2", "\"retest\":true,\"duplicate_serial\":true"},
                         Row{"line-1", "\"retest\":true,\"duplicate_serial\":true"}}) {
    const Ran r = RunZeltoctl({"--sim", "--sim-adapters", "1", "--sim-units", "1", "--records", db,
                               "station", "--station", row.station, "--count", "1",
                               ZELTO_SOURCE_DIR "/tests/cli/station_profile.json"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("\"outcome\":\"PASS\",\"reason\":\"verified\"," + std::string(row.flags)),
              std::string::npos)
        << row.station << ": " << r.out;
  }
  const Ran shown = RunZeltoctl({"--records", db, "records", "show", "ZS00000000"});
  EXPECT_EQ(shown.code, 0) << shown.err;
  EXPECT_EQ(Count(shown.out, "\n"), 3u) << shown.out;
  EXPECT_EQ(Count(shown.out, "(duplicate serial)"), 2u) << shown.out;
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(db + suffix);
}
#endif

}  // namespace
