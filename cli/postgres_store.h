// SPDX-License-Identifier: MIT
// The PostgreSQL record store for a line of stations, built as its own library
// (zelto_records_pg) where libpq is found. Records are committed to the local SQLite store
// first and shipped from its outbox by a thread of their own, in the order they were made,
// so that a station never waits for the network nor loses a record while the server is away.
// Every record keeps its id on the server, so a record sent twice is stored once.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/record_store.h"
#include "cli/sqlite_store.h"

namespace zelto::cli {

// The version of the tables on the server this zeltoctl writes; a server's tables of a newer
// version are refused and left as they are.
constexpr int kPostgresSchemaVersion = 1;

struct PostgresOptions {
  int connect_timeout_s = 2;  // unless the connection string says otherwise
  int retry_ms = 2000;        // between tries while the server is away
  std::size_t batch = 200;    // records per transaction
  int passes_wait_ms = 150;   // the longest a station waits for the server's PASSes
  int finish_ms = 5000;       // at the end, the time the queue is given
  bool notices = false;       // a line on stderr when the server goes away and comes back
  bool background = true;     // a shipping thread, from the first record or question on
};

// "postgresql://user@host:port/db" of a connection string, for messages: never a password.
std::string ConnectionDisplay(const std::string& conninfo);
// False, the reason in `error`, when the connection string does not parse or carries a
// password (passwords come from libpq's own places: ~/.pgpass, PGPASSFILE, PGPASSWORD).
bool CheckConnectionString(const std::string& conninfo, std::string& error);

class PostgresRecordStore final : public RecordStore {
 public:
  PostgresRecordStore(std::string conninfo, std::unique_ptr<SqliteRecordStore> local,
                      PostgresOptions options);
  ~PostgresRecordStore() override;
  PostgresRecordStore(const PostgresRecordStore&) = delete;
  PostgresRecordStore& operator=(const PostgresRecordStore&) = delete;

  std::string Location() const override { return ConnectionDisplay(conninfo_); }
  // Into the local store; the shipping thread is woken.
  bool Append(CommissionRecord& record, std::string& error) override;
  // The whole line's records, from the server.
  std::optional<std::vector<CommissionRecord>> Query(const RecordFilter& filter,
                                                     std::string& error) override;
  // The local store's answer, with the server's where it answers within passes_wait_ms.
  std::optional<PassHistory> Passes(const std::string& serial, const std::string& station,
                                    std::string& error) override;
  // Asks the server now; Passes then takes the answer without waiting.
  void ExpectPasses(const std::string& serial, const std::string& station) override;

  // Sends every unshipped record now, on the calling thread; the number sent, or nothing
  // with the reason in `error` when the server cannot be reached or refuses them.
  std::optional<std::int64_t> SyncNow(std::string& error) override;
  // The queue; `probe`: try the server now, else what the shipping thread saw last.
  std::optional<ShipStatus> Shipping(bool probe) override;
  SqliteRecordStore& Local() { return *local_; }

 private:
  struct Question;
  class Link;
  void StartShipper();
  std::shared_ptr<Question> Ask(const std::string& serial, const std::string& station);
  void ShipLoop();
  // Ships what the outbox holds through `link`, a batch per transaction, until it is empty,
  // `deadline_ms` passes or `max_batches` went.
  bool ShipAll(Link& link, SqliteRecordStore& outbox, std::int64_t deadline_ms, int max_batches,
               std::int64_t& sent, std::string& error);

  std::string conninfo_;
  std::unique_ptr<SqliteRecordStore> local_;
  PostgresOptions options_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false, pending_ = true, reachable_ = false;
  // A question went unanswered in time: the next ones are not waited for until the server
  // answers again.
  bool slow_ = false;
  std::map<std::pair<std::string, std::string>, std::shared_ptr<Question>> expected_;
  std::string last_error_;
  std::vector<std::shared_ptr<Question>> questions_;
  std::thread shipper_;
};

// `conninfo`: a libpq connection string ("postgresql://user@host/db?sslmode=require");
// passwords come from libpq's own places (.pgpass, PGPASSFILE), never from the command line.
// `local`: the SQLite store records are committed to first. Nothing, the reason in `error`,
// when the connection string is refused; a server that is away is not an error here.
std::unique_ptr<RecordStore> OpenPostgresStore(const std::string& conninfo,
                                               std::unique_ptr<SqliteRecordStore> local,
                                               std::string& error);

}  // namespace zelto::cli
