// SPDX-License-Identifier: MIT
// Records per second into a line's PostgreSQL server, on a server of its own on this machine
// (initdb in a temporary folder, 127.0.0.1 only, stopped at the end): a station's appends
// (committed locally, shipped by the store's thread) until the server has them all, and
// `records sync` sending a queue that waited. Then, with ZELTOCTL and the station's script,
// the station at 32 slots with the PostgreSQL store against without.
//
//   records_pg_run [RECORDS] [ZELTOCTL STATION_RUN_PY SECONDS]
#include <poll.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/sample_unit.h"
#include "cli/postgres_store.h"
#include "tests/support/pg_server.h"
#include "tests/support/temp_folder.h"

namespace {

using namespace zelto::cli;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}


}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 2000;
  zelto::test::PgServer server;
  if (!server.WhyNot().empty()) {
    std::printf("records into PostgreSQL: not measured (%s)\n", server.WhyNot().c_str());
    return 0;
  }
  zelto::test::TempFolder folder;
  ::setenv("PGPASSFILE", server.PassFile(folder.path()).c_str(), 1);
  server.Psql("CREATE DATABASE line");
  const std::string url = server.Url("line");
  std::string error;

  // As a station writes: each record committed locally, the thread shipping behind.
  {
    auto local = SqliteRecordStore::Open((folder.path() / "station.sqlite").string(), error);
    if (!local) {
      std::fprintf(stderr, "records_pg_run: %s\n", error.c_str());
      return 1;
    }
    SqliteRecordStore* outbox = local.get();
    PostgresRecordStore store(url, std::move(local), PostgresOptions{});
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
      CommissionRecord r = SampleUnit(i);
      if (!store.Append(r, error)) {
        std::fprintf(stderr, "records_pg_run: %s\n", error.c_str());
        return 1;
      }
    }
    const double appended = Seconds(start);
    std::int64_t left = count;
    while (left > 0 && Seconds(start) < 120) {
      left = outbox->UnshippedCount(error).value_or(count);
      ::poll(nullptr, 0, 5);
    }
    const double shipped = Seconds(start);
    std::printf("records into PostgreSQL %s (local server)\n", server.Psql("SHOW server_version").c_str());
    std::printf("station's appends: %d records in %.2f s (%.0f records/s, each on the local disk "
                "first); all on the server after %.2f s: %.0f records/s end to end%s\n",
                count, appended, count / appended, shipped, count / shipped,
                left > 0 ? " (NOT all shipped in 120 s)" : "");
  }
  // A queue that waited while the server was away, sent at once.
  {
    auto local = SqliteRecordStore::Open((folder.path() / "queue.sqlite").string(), error);
    for (int i = 0; i < count; ++i) {
      CommissionRecord r = SampleUnit(count + i);
      local->Append(r, error);
    }
    PostgresOptions options;
    options.background = false;
    PostgresRecordStore store(url, std::move(local), options);
    const auto start = Clock::now();
    const auto sent = store.SyncNow(error);
    const double s = Seconds(start);
    if (!sent) {
      std::fprintf(stderr, "records_pg_run: %s\n", error.c_str());
      return 1;
    }
    std::printf("records sync of a waiting queue: %lld records in %.2f s: %.0f records/s "
                "(batches of %zu, one transaction each)\n",
                static_cast<long long>(*sent), s, static_cast<double>(*sent) / s,
                PostgresOptions{}.batch);
  }
  std::fflush(stdout);
  // The station at 32 slots with the line's server against without it.
  if (argc > 4) {
    ::setenv("XDG_DATA_HOME", (folder.path() / "station-data").c_str(), 1);
    const std::string command = std::string("python3 '") + argv[3] + "' '" + argv[2] + "' " +
                                argv[4] + " '" + url + "' 'the PostgreSQL store'";
    if (std::system(command.c_str()) != 0) std::printf("the station's run failed\n");
  }
  return 0;
}
