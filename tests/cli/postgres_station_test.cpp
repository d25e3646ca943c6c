// SPDX-License-Identifier: MIT
// Stations on the simulated bench recording into a real PostgreSQL server the test starts:
// two stations at once into one database, every record there exactly once; the server
// stopped in the middle of a run and started again, the station's units going on while it is
// away and every record arriving once, in order; `records status` and `records sync`.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/support/pg_server.h"
#include "tests/support/temp_folder.h"
#include "tests/support/zeltoctl_process.h"

namespace {

using zelto::test::PgServer;
using zelto::test::Zeltoctl;

struct Ran {
  int code;
  std::string out, err;
};
Ran RunZeltoctl(const std::vector<std::string>& args, const std::map<std::string, std::string>& env) {
  Zeltoctl z(args, env);
  Ran r;
  std::string line;
  while (z.Line(line)) r.out += line + "\n";
  r.code = z.Wait();
  r.err = z.Err();
  return r;
}

class PostgresStationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!server_.WhyNot().empty()) GTEST_SKIP() << server_.WhyNot();
    server_.Psql("CREATE DATABASE line");
  }
  // The environment of a station of its own: its local records under `name`/.
  std::map<std::string, std::string> Env(const std::string& name) {
    return {{"XDG_DATA_HOME", (folder_.path() / name).string()},
            {"PGPASSFILE", server_.PassFile(folder_.path())},
            {"ZELTOCTL_RECORDS", ""}};
  }
  // A station on the simulated bench whose robots keep the sockets busy; count 0: until
  // stopped.
  std::vector<std::string> Station(const std::string& name, int adapters, int count) {
    std::vector<std::string> args{
        "--sim", "--sim-adapters", std::to_string(adapters), "--sim-pull-after-ms", "20",
        "--sim-gap-ms", "30", "--sim-hold-ms", "3600000", "--records", server_.Url("line"),
        "station", "--look-ms", "10", "--station", name,
        std::string(ZELTO_SOURCE_DIR) + "/tests/cli/station_profile.json"};
    if (count > 0) args.insert(args.end() - 1, {"--count", std::to_string(count)});
    return args;
  }
  std::string Sql(const std::string& sql) {
    std::string out = server_.Psql(sql, "line");
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  }
  // Waits (up to 30 s) until `done`.
  static bool Eventually(const std::function<bool()>& done) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < until) {
      if (done()) return true;
      ::poll(nullptr, 0, 100);
    }
    return done();
  }
  // Records the server holds, in the order it took them, out of the order they were made.
  std::string OutOfOrder() {
    return Sql(
        "SELECT count(*) FROM (SELECT station, time_utc, lag(time_utc) OVER "
        "(PARTITION BY station ORDER BY seq) AS before FROM zelto_records) t "
        "WHERE before > time_utc");
  }

  PgServer server_;
  zelto::test::TempFolder folder_;
};

TEST_F(PostgresStationTest, TwoStationsAtOnceEveryRecordOnceAndInOrder) {
  Zeltoctl a(Station("A", 3, 30), Env("a"));
  Zeltoctl b(Station("B", 3, 30), Env("b"));
  EXPECT_EQ(a.Wait(), 0) << a.Err();
  EXPECT_EQ(b.Wait(), 0) << b.Err();
  EXPECT_EQ(Sql("SELECT count(*), count(DISTINCT id) FROM zelto_records"), "60|60");
  EXPECT_EQ(Sql("SELECT station, count(*) FROM zelto_records WHERE outcome = 'PASS' "
                "GROUP BY station ORDER BY station"),
            "A|30\nB|30");
  EXPECT_EQ(OutOfOrder(), "0");
  // Nothing waits at either station, and the server answers them.
  for (const char* name : {"a", "b"}) {
    const Ran status = RunZeltoctl({"--records", server_.Url("line"), "records", "status"}, Env(name));
    EXPECT_EQ(status.code, 0) << status.out << status.err;
    EXPECT_NE(status.out.find("waiting: 0 record(s)"), std::string::npos) << status.out;
  }
  // The line's history of a serial from the server, whichever station made it.
  const std::string serial = Sql("SELECT serial FROM zelto_records WHERE station = 'B' LIMIT 1");
  const Ran show = RunZeltoctl({"--records", server_.Url("line"), "records", "show", serial}, Env("a"));
  EXPECT_EQ(show.code, 0) << show.err;
  EXPECT_NE(show.out.find(serial), std::string::npos) << show.out;
}

TEST_F(PostgresStationTest, ServerAwayMidRunNothingLostNothingTwiceNoUnitWaits) {
  Zeltoctl station(Station("A", 2, 0), Env("a"));
  int outcomes = 0;
  std::string line;
  auto next_outcome = [&] {
    while (station.Line(line))
      if (nlohmann::json::parse(line, nullptr, false).value("event", "") == "outcome")
        return ++outcomes, true;
    return false;
  };
  while (outcomes < 10) ASSERT_TRUE(next_outcome()) << station.Err();
  ASSERT_TRUE(Eventually([&] { return Sql("SELECT count(*) FROM zelto_records") != "0"; }));

  ASSERT_TRUE(server_.Stop());
  const int at_stop = outcomes;
  // Units keep completing while the server is away.
  while (outcomes < at_stop + 20) ASSERT_TRUE(next_outcome()) << station.Err();
  ASSERT_TRUE(server_.Start());
  // Once it is back, the queue goes out while the station works on.
  for (int more = 0; more < 10; ++more) ASSERT_TRUE(next_outcome());
  EXPECT_TRUE(Eventually([&] {
    return std::stoi(Sql("SELECT count(*) FROM zelto_records")) >= at_stop + 20;
  }));
  station.Signal(SIGINT);
  while (next_outcome()) {
  }
  EXPECT_EQ(station.Wait(), 130);
  // The server may go in the middle of a send or between two: either way the station says
  // the records stay here.
  EXPECT_NE(station.Err().find("the records are kept here"), std::string::npos) << station.Err();
  // Whatever the end left waiting goes with `records sync`; then the server has each once.
  const Ran sync = RunZeltoctl({"--records", server_.Url("line"), "records", "sync"}, Env("a"));
  EXPECT_EQ(sync.code, 0) << sync.err;
  EXPECT_EQ(Sql("SELECT count(*), count(DISTINCT id) FROM zelto_records"),
            std::to_string(outcomes) + "|" + std::to_string(outcomes));
  EXPECT_EQ(OutOfOrder(), "0");

  // Away again: status and sync say so and leave the records here.
  ASSERT_TRUE(server_.Stop());
  Zeltoctl more(Station("A", 1, 3), Env("a"));
  EXPECT_EQ(more.Wait(), 0) << more.Err();
  const Ran status = RunZeltoctl({"--records", server_.Url("line"), "records", "status"}, Env("a"));
  EXPECT_EQ(status.code, 1);
  EXPECT_NE(status.out.find("reachable: no"), std::string::npos) << status.out;
  EXPECT_NE(status.out.find("waiting: 3 record(s)"), std::string::npos) << status.out;
  const Ran failed = RunZeltoctl({"--records", server_.Url("line"), "records", "sync"}, Env("a"));
  EXPECT_EQ(failed.code, 1);
  EXPECT_NE(failed.err.find("cannot reach the records server"), std::string::npos) << failed.err;
  ASSERT_TRUE(server_.Start());
  const Ran sent = RunZeltoctl({"--records", server_.Url("line"), "records", "sync"}, Env("a"));
  EXPECT_EQ(sent.code, 0) << sent.err;
  EXPECT_NE(sent.out.find("sent 3 record(s)"), std::string::npos) << sent.out;
}

}  // namespace
