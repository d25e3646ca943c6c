// SPDX-License-Identifier: MIT
// The SQLite record store: one database file, WAL mode, one transaction per record, a busy
// timeout so that several zeltoctl processes (stations, a `records list` beside them) can use
// it at once. Also the outbox of a line's shared store: each record has a `shipped` mark.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/record_store.h"

struct sqlite3;

namespace zelto::cli {

class SqliteRecordStore final : public RecordStore {
 public:
  // Opens (creating it and its folder when missing) and brings the tables forward; nothing,
  // the reason in `error`, when it cannot, or when the database is of a newer schema (then
  // the file is not written at all).
  static std::unique_ptr<SqliteRecordStore> Open(const std::string& path, std::string& error);
  ~SqliteRecordStore() override;

  std::string Location() const override { return path_; }
  bool Append(CommissionRecord& record, std::string& error) override;
  std::optional<std::vector<CommissionRecord>> Query(const RecordFilter& filter,
                                                     std::string& error) override;
  std::optional<PassHistory> Passes(const std::string& serial, const std::string& station,
                                    std::string& error) override;

  // The outbox: up to `limit` records not yet marked shipped, in the order they were stored.
  std::optional<std::vector<CommissionRecord>> Unshipped(std::size_t limit, std::string& error);
  // Marks the records shipped (ids not stored are ignored), in one transaction.
  bool MarkShipped(const std::vector<std::string>& ids, std::string& error);
  // How many records are not yet shipped; nothing when it cannot be read.
  std::optional<std::int64_t> UnshippedCount(std::string& error);

  // The schema version in the file (PRAGMA user_version).
  int SchemaVersion() const { return schema_version_; }

 private:
  SqliteRecordStore(sqlite3* db, std::string path) : db_(db), path_(std::move(path)) {}
  sqlite3* db_;
  std::string path_;
  int schema_version_ = 0;
};

}  // namespace zelto::cli
