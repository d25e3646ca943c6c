// SPDX-License-Identifier: MIT
#include "cli/sqlite_store.h"

#include <sqlite3.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <system_error>

#include "cli/platform.h"
#include "core/text/cp1252.h"

namespace zelto::cli {

namespace {

using nlohmann::json;

// "ZELT": marks the file as zeltoctl's record database, so that --records pointing at some
// other program's database is refused rather than given our tables.
constexpr int kApplicationId = 0x5A454C54;

// The tables as each version has them; a database is brought from its version to the last
// by running the steps after it, each in the same transaction as the new version number.
// The serial, the adapter and the slot are kept as UTF-8 text (converted from the bytes the
// sensor and the programmer sent, and back when read), so that the database reads as text
// in any tool; the conversion is exact both ways.
const char* const kMigrations[] = {
    // 0 -> 1
    "CREATE TABLE records ("
    " seq INTEGER PRIMARY KEY AUTOINCREMENT,"
    " id TEXT NOT NULL UNIQUE,"
    " time_utc TEXT NOT NULL,"
    " started_utc TEXT NOT NULL,"
    " command TEXT NOT NULL,"
    " adapter TEXT NOT NULL,"
    " serial TEXT NOT NULL,"
    " hw INTEGER NOT NULL,"
    " fw INTEGER NOT NULL,"
    " before TEXT,"  // JSON array of the wire values; NULL: not read
    " after TEXT,"
    " verified INTEGER NOT NULL,"
    " result TEXT NOT NULL,"
    " skipped TEXT NOT NULL,"
    " notes TEXT NOT NULL,"  // JSON array of [key, value]
    " station TEXT,"         // NULL: not a station's record; then the columns below are too
    " slot TEXT,"
    " operator TEXT,"
    " version TEXT,"
    " profile_hash TEXT,"
    " outcome TEXT,"
    " retest INTEGER,"
    " duplicate_serial INTEGER,"
    " checks TEXT,"  // JSON array of [parameter, found, expected, read back], null: not known
    " shipped INTEGER NOT NULL DEFAULT 0);"
    "CREATE INDEX records_serial ON records(serial);"
    "CREATE INDEX records_time ON records(time_utc);"
    "CREATE INDEX records_unshipped ON records(seq) WHERE shipped = 0;",
};
static_assert(std::size(kMigrations) == kRecordSchemaVersion);

const char kColumns[] =
    "id, time_utc, command, adapter, serial, hw, fw, before, after, verified, result, skipped, "
    "notes, station, slot, operator, version, profile_hash, outcome, retest, duplicate_serial, "
    "checks, started_utc";

std::string Message(sqlite3* db) { return db != nullptr ? sqlite3_errmsg(db) : "out of memory"; }

// A prepared statement, finalized when it goes.
class Statement {
 public:
  Statement(sqlite3* db, const std::string& sql, std::string& error) {
    if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &stmt_, nullptr) !=
        SQLITE_OK) {
      error = Message(db);
      stmt_ = nullptr;
    }
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  explicit operator bool() const { return stmt_ != nullptr; }
  sqlite3_stmt* get() const { return stmt_; }

  void Bind(int index, const std::string& text) {
    sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
  void Bind(int index, std::int64_t value) { sqlite3_bind_int64(stmt_, index, value); }
  void BindNull(int index) { sqlite3_bind_null(stmt_, index); }

  std::string Text(int column) const {
    const auto* text = sqlite3_column_text(stmt_, column);
    return text != nullptr ? std::string(reinterpret_cast<const char*>(text),
                                         static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)))
                           : std::string();
  }
  bool IsNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }
  std::int64_t Int(int column) const { return sqlite3_column_int64(stmt_, column); }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

bool Exec(sqlite3* db, const char* sql, std::string& error) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
  error = message != nullptr ? message : Message(db);
  sqlite3_free(message);
  return false;
}

std::optional<std::int64_t> PragmaInt(sqlite3* db, const char* sql, std::string& error) {
  Statement s(db, sql, error);
  if (!s) return std::nullopt;
  if (sqlite3_step(s.get()) != SQLITE_ROW) {
    error = Message(db);
    return std::nullopt;
  }
  return s.Int(0);
}

// Binds the record to the INSERT of Append, in kColumns' order.
void BindRecord(Statement& s, const CommissionRecord& r) {
  s.Bind(1, r.id);
  s.Bind(2, r.time_utc);
  s.Bind(3, r.command);
  s.Bind(4, Cp1252ToUtf8(r.adapter));
  s.Bind(5, Cp1252ToUtf8(r.serial));
  s.Bind(6, std::int64_t{r.hw});
  s.Bind(7, std::int64_t{r.fw});
  if (r.before) s.Bind(8, StoredParams(r.before).dump()); else s.BindNull(8);
  if (r.after) s.Bind(9, StoredParams(r.after).dump()); else s.BindNull(9);
  s.Bind(10, std::int64_t{r.verified ? 1 : 0});
  s.Bind(11, r.result);
  s.Bind(12, r.skipped);
  json notes = json::array();
  for (const auto& [key, value] : r.notes) notes.push_back({key, value});
  s.Bind(13, notes.dump(-1, ' ', false, json::error_handler_t::replace));
  s.Bind(23, r.started_utc);
  if (!r.station) {
    for (int i = 14; i <= 22; ++i) s.BindNull(i);
    return;
  }
  const StationFields& st = *r.station;
  s.Bind(14, st.station);
  s.Bind(15, Cp1252ToUtf8(st.slot));
  s.Bind(16, st.operator_name);
  s.Bind(17, st.version);
  s.Bind(18, st.profile_hash);
  s.Bind(19, st.outcome);
  s.Bind(20, std::int64_t{st.retest ? 1 : 0});
  s.Bind(21, std::int64_t{st.duplicate_serial ? 1 : 0});
  json checks = json::array();
  for (const ParamCheck& c : st.checks)
    checks.push_back({c.list, StoredWire(c.found), StoredWire(c.expected),
                      StoredWire(c.read_back)});
  s.Bind(22, checks.dump());
}

// The record in the current row of a SELECT of kColumns.
CommissionRecord ReadRecord(const Statement& s) {
  CommissionRecord r;
  r.id = s.Text(0);
  r.time_utc = s.Text(1);
  r.command = s.Text(2);
  r.adapter = Utf8ToCp1252(s.Text(3));
  r.serial = Utf8ToCp1252(s.Text(4));
  r.hw = static_cast<std::int32_t>(s.Int(5));
  r.fw = static_cast<std::int32_t>(s.Int(6));
  if (!s.IsNull(7)) r.before = ParamsFromStored(json::parse(s.Text(7), nullptr, false));
  if (!s.IsNull(8)) r.after = ParamsFromStored(json::parse(s.Text(8), nullptr, false));
  r.verified = s.Int(9) != 0;
  r.result = s.Text(10);
  r.skipped = s.Text(11);
  r.started_utc = s.Text(22);
  const json notes = json::parse(s.Text(12), nullptr, false);
  if (notes.is_array())
    for (const json& pair : notes)
      if (pair.is_array() && pair.size() == 2 && pair[0].is_string() && pair[1].is_string())
        r.notes.emplace_back(pair[0].get<std::string>(), pair[1].get<std::string>());
  if (s.IsNull(13)) return r;
  StationFields st;
  st.station = s.Text(13);
  st.slot = Utf8ToCp1252(s.Text(14));
  st.operator_name = s.Text(15);
  st.version = s.Text(16);
  st.profile_hash = s.Text(17);
  st.outcome = s.Text(18);
  st.retest = s.Int(19) != 0;
  st.duplicate_serial = s.Int(20) != 0;
  const json checks = json::parse(s.Text(21), nullptr, false);
  if (checks.is_array())
    for (const json& c : checks) {
      if (!c.is_array() || c.size() != 4 || !c[0].is_number_integer()) continue;
      const int list = c[0].get<int>();
      if (list < 0 || list >= static_cast<int>(kParamCount)) continue;
      st.checks.push_back(
          ParamCheck{list, WireFromStored(c[1]), WireFromStored(c[2]), WireFromStored(c[3])});
    }
  r.station = std::move(st);
  return r;
}

std::optional<std::vector<CommissionRecord>> ReadAll(sqlite3* db, Statement& s,
                                                     std::string& error) {
  std::vector<CommissionRecord> out;
  for (;;) {
    const int rc = sqlite3_step(s.get());
    if (rc == SQLITE_DONE) return out;
    if (rc != SQLITE_ROW) {
      error = Message(db);
      return std::nullopt;
    }
    out.push_back(ReadRecord(s));
  }
}

// The schema version of an existing file, read without writing anything to it. -1 with the
// reason in `error` when it is not a database of ours.
int ExistingVersion(const std::string& path, std::string& error) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  int version = -1;
  if (rc != SQLITE_OK) {
    error = Message(db);
  } else {
    sqlite3_busy_timeout(db, 10000);
    const auto app = PragmaInt(db, "PRAGMA application_id", error);
    const auto user = app ? PragmaInt(db, "PRAGMA user_version", error) : std::nullopt;
    const auto tables =
        user ? PragmaInt(db, "SELECT count(*) FROM sqlite_schema", error) : std::nullopt;
    if (!tables) {
      error = "not readable as an SQLite database: " + error;
    } else if (*app == kApplicationId) {
      version = static_cast<int>(*user);
    } else if (*app == 0 && *tables == 0) {
      version = 0;  // an empty file or a database with nothing in it yet
    } else {
      error = "not a zeltoctl record database (it holds another program's tables)";
    }
  }
  sqlite3_close_v2(db);
  return version;
}

}  // namespace

std::unique_ptr<SqliteRecordStore> SqliteRecordStore::Open(const std::string& path,
                                                           std::string& error) {
  if (path.empty()) {
    error = "no database file named";
    return nullptr;
  }
  const std::filesystem::path file = PathFromUtf8(path);
  std::error_code ec;
  if (std::filesystem::exists(file, ec)) {
    // A newer or foreign database is refused before anything would write to it.
    const int found = ExistingVersion(path, error);
    if (found < 0) return nullptr;
    if (found > kRecordSchemaVersion) {
      error = "the record database was written by a newer zeltoctl (schema version " +
              std::to_string(found) + ", this zeltoctl knows up to " +
              std::to_string(kRecordSchemaVersion) + "); it is left as it is";
      return nullptr;
    }
  } else if (file.has_parent_path()) {
    std::filesystem::create_directories(file.parent_path(), ec);
    if (ec) {
      error = "cannot create the folder " + PathToUtf8(file.parent_path()) + ": " + ec.message();
      return nullptr;
    }
  }

  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    error = Message(db);
    sqlite3_close_v2(db);
    return nullptr;
  }
  std::unique_ptr<SqliteRecordStore> store(new SqliteRecordStore(db, path));
  // Several processes write at once (stations, a shipper): each waits its turn rather than
  // failing. Every committed record is on the disk before Append returns.
  sqlite3_busy_timeout(db, 10000);
  sqlite3_extended_result_codes(db, 1);
  if (!Exec(db, "PRAGMA foreign_keys = ON; PRAGMA synchronous = FULL", error)) return nullptr;

  // Forward to this version, in one transaction that another process opening the same new
  // file at the same moment waits for (it then finds the tables made).
  if (!Exec(db, "BEGIN IMMEDIATE", error)) return nullptr;
  auto version = PragmaInt(db, "PRAGMA user_version", error);
  auto app = version ? PragmaInt(db, "PRAGMA application_id", error) : std::nullopt;
  if (!app) {
    Exec(db, "ROLLBACK", error);
    return nullptr;
  }
  if (*version > kRecordSchemaVersion) {  // made newer between the look and now
    Exec(db, "ROLLBACK", error);
    error = "the record database was written by a newer zeltoctl (schema version " +
            std::to_string(*version) + "); it is left as it is";
    return nullptr;
  }
  for (auto v = *version; v < kRecordSchemaVersion; ++v) {
    if (!Exec(db, kMigrations[v], error)) {
      std::string ignored;
      Exec(db, "ROLLBACK", ignored);
      error = "cannot bring the record database to version " + std::to_string(v + 1) + ": " +
              error;
      return nullptr;
    }
  }
  const std::string mark = "PRAGMA application_id = " + std::to_string(kApplicationId) +
                           "; PRAGMA user_version = " + std::to_string(kRecordSchemaVersion);
  if ((*version != kRecordSchemaVersion || *app != kApplicationId) && !Exec(db, mark.c_str(), error)) {
    std::string ignored;
    Exec(db, "ROLLBACK", ignored);
    return nullptr;
  }
  if (!Exec(db, "COMMIT", error)) return nullptr;
  store->schema_version_ = kRecordSchemaVersion;

  // WAL: readers do not stop writers, and a killed writer leaves a file that opens cleanly
  // (its unfinished transaction is simply not there). Kept in the file once set.
  Statement wal(db, "PRAGMA journal_mode = WAL", error);
  if (!wal) return nullptr;
  const int rc = sqlite3_step(wal.get());
  if (rc != SQLITE_ROW || wal.Text(0) != "wal") {
    error = "cannot switch the record database to WAL mode: " +
            (rc == SQLITE_ROW ? wal.Text(0) : Message(db));
    return nullptr;
  }
  return store;
}

SqliteRecordStore::~SqliteRecordStore() { sqlite3_close_v2(db_); }

bool SqliteRecordStore::Append(CommissionRecord& record, std::string& error) {
  if (record.id.empty()) record.id = NewRecordId();
  // One statement in autocommit: one transaction per record, on the disk when it returns.
  // A record already stored under its id (a resend) is left as it is.
  Statement s(db_,
              std::string("INSERT INTO records (") + kColumns +
                  ") VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, "
                  "?16, ?17, ?18, ?19, ?20, ?21, ?22, ?23) ON CONFLICT (id) DO NOTHING",
              error);
  if (!s) return false;
  BindRecord(s, record);
  if (sqlite3_step(s.get()) != SQLITE_DONE) {
    error = Message(db_);
    return false;
  }
  return true;
}

std::optional<std::vector<CommissionRecord>> SqliteRecordStore::Query(const RecordFilter& f,
                                                                      std::string& error) {
  Statement s(db_,
              std::string("SELECT ") + kColumns +
                  " FROM records WHERE (?1 = '' OR serial = ?1) AND (?2 = '' OR time_utc >= ?2)"
                  " AND (?3 = '' OR station = ?3) AND (?4 = '' OR slot = ?4)"
                  " AND (?5 = '' OR outcome = ?5) AND (?6 = '' OR profile_hash = ?6)"
                  " ORDER BY time_utc, seq LIMIT ?7",
              error);
  if (!s) return std::nullopt;
  s.Bind(1, Cp1252ToUtf8(f.serial));
  s.Bind(2, f.since);
  s.Bind(3, f.station);
  s.Bind(4, Cp1252ToUtf8(f.slot));
  s.Bind(5, f.outcome);
  s.Bind(6, f.profile_hash);
  s.Bind(7, f.limit == 0 ? std::int64_t{-1} : static_cast<std::int64_t>(f.limit));
  return ReadAll(db_, s, error);
}

std::optional<PassHistory> SqliteRecordStore::Passes(const std::string& serial,
                                                     const std::string& station,
                                                     std::string& error) {
  Statement s(db_,
              "SELECT coalesce(max(station = ?2), 0), coalesce(max(station <> ?2), 0)"
              " FROM records WHERE serial = ?1 AND outcome = 'PASS'",
              error);
  if (!s) return std::nullopt;
  s.Bind(1, Cp1252ToUtf8(serial));
  s.Bind(2, station);
  if (sqlite3_step(s.get()) != SQLITE_ROW) {
    error = Message(db_);
    return std::nullopt;
  }
  return PassHistory{s.Int(0) != 0, s.Int(1) != 0};
}

std::optional<std::vector<CommissionRecord>> SqliteRecordStore::Unshipped(std::size_t limit,
                                                                          std::string& error) {
  Statement s(db_,
              std::string("SELECT ") + kColumns +
                  " FROM records WHERE shipped = 0 ORDER BY seq LIMIT ?1",
              error);
  if (!s) return std::nullopt;
  s.Bind(1, limit == 0 ? std::int64_t{-1} : static_cast<std::int64_t>(limit));
  return ReadAll(db_, s, error);
}

bool SqliteRecordStore::MarkShipped(const std::vector<std::string>& ids, std::string& error) {
  if (!Exec(db_, "BEGIN IMMEDIATE", error)) return false;
  Statement s(db_, "UPDATE records SET shipped = 1 WHERE id = ?1", error);
  bool ok = static_cast<bool>(s);
  for (std::size_t i = 0; ok && i < ids.size(); ++i) {
    sqlite3_reset(s.get());
    s.Bind(1, ids[i]);
    if (sqlite3_step(s.get()) != SQLITE_DONE) {
      error = Message(db_);
      ok = false;
    }
  }
  std::string ignored;
  if (!ok) {
    Exec(db_, "ROLLBACK", ignored);
    return false;
  }
  return Exec(db_, "COMMIT", error);
}

std::optional<std::int64_t> SqliteRecordStore::UnshippedCount(std::string& error) {
  return PragmaInt(db_, "SELECT count(*) FROM records WHERE shipped = 0", error);
}

}  // namespace zelto::cli
