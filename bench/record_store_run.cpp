// SPDX-License-Identifier: MIT
// Records per second into the SQLite record store, as a station writes them: one station
// record at a time, each its own transaction, on the disk before the next (WAL, synchronous
// FULL). Also the time of a unit's history asked for in the full database.
//
//   record_store_run [RECORDS] [FOLDER]     (default 2000 records, a fresh temporary folder)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/sample_unit.h"
#include "cli/sqlite_store.h"

int main(int argc, char** argv) {
  using namespace zelto::cli;
  using Clock = std::chrono::steady_clock;
  const int count = argc > 1 ? std::atoi(argv[1]) : 2000;
  const std::filesystem::path folder =
      argc > 2 ? std::filesystem::path(argv[2])
               : std::filesystem::temp_directory_path() /
                     ("zelto-record-bench-" + std::to_string(Clock::now().time_since_epoch().count()));
  std::filesystem::create_directories(folder);
  const std::string path = (folder / "records.sqlite").string();
  std::string error;
  auto store = SqliteRecordStore::Open(path, error);
  if (!store) {
    std::fprintf(stderr, "record_store_run: %s\n", error.c_str());
    return 1;
  }
  std::vector<double> latency_ms;
  const auto start = Clock::now();
  for (int i = 0; i < count; ++i) {
    CommissionRecord r = SampleUnit(i);
    const auto t = Clock::now();
    if (!store->Append(r, error)) {
      std::fprintf(stderr, "record_store_run: %s\n", error.c_str());
      return 1;
    }
    latency_ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t).count());
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::sort(latency_ms.begin(), latency_ms.end());
  RecordFilter filter;
  filter.serial = "ZS" + std::to_string(10000000 + count / 2);
  const auto q = Clock::now();
  const auto found = store->Query(filter, error);
  const double query_ms = std::chrono::duration<double, std::milli>(Clock::now() - q).count();
  std::printf("record store (SQLite, WAL, synchronous FULL) in %s\n", folder.string().c_str());
  std::printf("%d records in %.2f s: %.0f records/s; append median %.2f ms, p99 %.2f ms\n",
              count, seconds, count / seconds, latency_ms[latency_ms.size() / 2],
              latency_ms[latency_ms.size() * 99 / 100]);
  std::printf("one unit's history among %d records: %.2f ms (%zu found)\n", count, query_ms,
              found ? found->size() : 0);
  store.reset();
  if (argc <= 2) std::filesystem::remove_all(folder);
  return 0;
}
