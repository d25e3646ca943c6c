// SPDX-License-Identifier: MIT
#include "cli/postgres_store.h"

#include <libpq-fe.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <limits>
#include <nlohmann/json.hpp>

#include "core/text/cp1252.h"

namespace zelto::cli {

namespace {

using Json = nlohmann::json;

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The tables of each version, applied in order from the one the server holds. A new version
// is a new entry at the end; an entry once released is never changed.
// One statement each: statements with bound parameters go one at a time.
const std::vector<std::vector<const char*>> kMigrations = {
    // 1: the records, keyed by their own id; `seq` is the order the server took them in.
    {"CREATE TABLE zelto_records ("
     " id text PRIMARY KEY,"
     " seq bigserial NOT NULL UNIQUE,"
     " time_utc text NOT NULL,"
     " command text NOT NULL,"
     " station text NOT NULL DEFAULT '',"
     " slot text NOT NULL DEFAULT '',"
     " serial text NOT NULL,"
     " outcome text NOT NULL DEFAULT '',"
     " profile_hash text NOT NULL DEFAULT '',"
     " record jsonb NOT NULL,"
     " received_at timestamptz NOT NULL DEFAULT now())",
     "CREATE INDEX zelto_records_serial ON zelto_records (serial)",
     "CREATE INDEX zelto_records_time ON zelto_records (time_utc, seq)"},
};

// One lock for everyone bringing the tables forward, so that two stations starting at once
// do not both create them.
constexpr const char* kSchemaLock = "SELECT pg_advisory_xact_lock(7407400251)";

// The whole record as the server keeps it; the sensor's serial as UTF-8.
Json RecordJson(const CommissionRecord& r) {
  Json j{{"time_utc", r.time_utc},   {"started_utc", r.started_utc}, {"command", r.command},
         {"adapter", r.adapter},     {"serial", Cp1252ToUtf8(r.serial)},
         {"hw", r.hw},               {"fw", r.fw},
         {"before", StoredParams(r.before)}, {"after", StoredParams(r.after)},
         {"verified", r.verified},   {"result", r.result},
         {"skipped", r.skipped},     {"notes", Json::array()}};
  for (const auto& [k, v] : r.notes) j["notes"].push_back({k, v});
  if (r.station) {
    const StationFields& s = *r.station;
    Json checks = Json::array();
    for (const ParamCheck& c : s.checks)
      checks.push_back({{"list", c.list},
                        {"found", StoredWire(c.found)},
                        {"expected", StoredWire(c.expected)},
                        {"read_back", StoredWire(c.read_back)}});
    j["station"] = {{"station", s.station},         {"slot", s.slot},
                    {"operator", s.operator_name},  {"version", s.version},
                    {"profile_hash", s.profile_hash}, {"outcome", s.outcome},
                    {"retest", s.retest},           {"duplicate_serial", s.duplicate_serial},
                    {"checks", checks}};
  }
  return j;
}

CommissionRecord RecordFrom(const std::string& id, const Json& j) {
  CommissionRecord r;
  r.id = id;
  r.time_utc = j.value("time_utc", "");
  r.started_utc = j.value("started_utc", "");
  r.command = j.value("command", "");
  r.adapter = j.value("adapter", "");
  r.serial = Utf8ToCp1252(j.value("serial", ""));
  r.hw = j.value("hw", 0);
  r.fw = j.value("fw", 0);
  r.before = ParamsFromStored(j.value("before", Json()));
  r.after = ParamsFromStored(j.value("after", Json()));
  r.verified = j.value("verified", false);
  r.result = j.value("result", "");
  r.skipped = j.value("skipped", "");
  for (const Json& n : j.value("notes", Json::array()))
    if (n.is_array() && n.size() == 2) r.notes.emplace_back(n[0], n[1]);
  if (j.contains("station") && j["station"].is_object()) {
    const Json& s = j["station"];
    StationFields f;
    f.station = s.value("station", "");
    f.slot = s.value("slot", "");
    f.operator_name = s.value("operator", "");
    f.version = s.value("version", "");
    f.profile_hash = s.value("profile_hash", "");
    f.outcome = s.value("outcome", "");
    f.retest = s.value("retest", false);
    f.duplicate_serial = s.value("duplicate_serial", false);
    for (const Json& c : s.value("checks", Json::array()))
      f.checks.push_back({c.value("list", 0), WireFromStored(c.value("found", Json())),
                          WireFromStored(c.value("expected", Json())),
                          WireFromStored(c.value("read_back", Json()))});
    r.station = std::move(f);
  }
  return r;
}

// A result that is cleared however the function it is in ends.
struct Result {
  explicit Result(PGresult* r) : res(r) {}
  ~Result() { PQclear(res); }
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;
  bool Ok() const {
    const auto s = PQresultStatus(res);
    return s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK;
  }
  std::string Text(int row, int col) const { return PQgetvalue(res, row, col); }
  bool Null(int row, int col) const { return PQgetisnull(res, row, col) != 0; }
  int Rows() const { return PQntuples(res); }
  PGresult* res;
};

std::string Trimmed(const char* message) {
  std::string m = message ? message : "";
  while (!m.empty() && (m.back() == '\n' || m.back() == ' ')) m.pop_back();
  for (char& c : m)
    if (c == '\n') c = ' ';
  return m;
}

}  // namespace

std::string ConnectionDisplay(const std::string& conninfo) {
  char* err = nullptr;
  PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), &err);
  if (!options) {
    PQfreemem(err);
    return "postgresql://(a connection string that does not parse)";
  }
  std::string user, host, port, db;
  for (PQconninfoOption* o = options; o->keyword; ++o) {
    if (!o->val) continue;
    const std::string k = o->keyword;
    if (k == "user") user = o->val;
    if (k == "host" || (k == "hostaddr" && host.empty())) host = o->val;
    if (k == "port") port = o->val;
    if (k == "dbname") db = o->val;
  }
  PQconninfoFree(options);
  std::string text = "postgresql://";
  if (!user.empty()) text += user + "@";
  text += host.empty() ? "localhost" : host;
  if (!port.empty()) text += ":" + port;
  if (!db.empty()) text += "/" + db;
  return text;
}

bool CheckConnectionString(const std::string& conninfo, std::string& error) {
  char* err = nullptr;
  PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), &err);
  if (!options) {
    // libpq's message quotes no value of the string, so it cannot show a password.
    error = "the records location is not a PostgreSQL connection string: " +
            Trimmed(err ? err : "");
    PQfreemem(err);
    return false;
  }
  bool password = false;
  for (PQconninfoOption* o = options; o->keyword; ++o)
    if (std::string(o->keyword) == "password" && o->val && *o->val) password = true;
  PQconninfoFree(options);
  if (password) {
    error =
        "the records location carries a password; zeltoctl takes none there (it would show "
        "in the process list and the shell's history): put it in ~/.pgpass, or the file "
        "PGPASSFILE names, as libpq reads it";
    return false;
  }
  return true;
}

// One connection to the server, its tables checked and brought forward once.
class PostgresRecordStore::Link {
 public:
  Link(const std::string& conninfo, int timeout_s) : conninfo_(conninfo), timeout_s_(timeout_s) {}
  ~Link() { Close(); }
  void Close() {
    if (conn_) PQfinish(conn_);
    conn_ = nullptr;
  }
  PGconn* Conn() { return conn_; }

  // Connects (when not connected or the connection broke) and checks the tables. False with
  // the reason; `refused` when retrying cannot help (tables of a newer version).
  bool Ready(std::string& error, bool& refused) {
    refused = false;
    if (conn_ && PQstatus(conn_) == CONNECTION_OK) return true;
    Close();
    const std::string timeout = std::to_string(timeout_s_);
    // The connection string's own settings come after these and win over them.
    const char* keywords[] = {"connect_timeout", "fallback_application_name", "dbname", nullptr};
    const char* values[] = {timeout.c_str(), "zeltoctl", conninfo_.c_str(), nullptr};
    conn_ = PQconnectdbParams(keywords, values, 1);
    if (!conn_ || PQstatus(conn_) != CONNECTION_OK) {
      error = "cannot reach the records server " + ConnectionDisplay(conninfo_) + ": " +
              Trimmed(conn_ ? PQerrorMessage(conn_) : "out of memory");
      Close();
      return false;
    }
    if (!Schema(error, refused)) {
      Close();
      return false;
    }
    return true;
  }

  // Runs one statement with bound parameters (text format).
  Result Exec(const char* sql, const std::vector<std::string>& params) {
    std::vector<const char*> values;
    for (const std::string& p : params) values.push_back(p.c_str());
    return Result(PQexecParams(conn_, sql, static_cast<int>(values.size()), nullptr,
                               values.data(), nullptr, nullptr, 0));
  }
  std::string Error() { return Trimmed(PQerrorMessage(conn_)); }

 private:
  bool Schema(std::string& error, bool& refused) {
    auto fail = [&](const std::string& what) {
      error = what + " on the records server " + ConnectionDisplay(conninfo_) + ": " + Error();
      Exec("ROLLBACK", {});
      return false;
    };
    if (!Exec("BEGIN", {}).Ok()) return fail("cannot start a transaction");
    if (!Exec(kSchemaLock, {}).Ok()) return fail("cannot lock the tables");
    Result exists = Exec("SELECT to_regclass('zelto_schema') IS NOT NULL", {});
    if (!exists.Ok() || exists.Rows() != 1) return fail("cannot read the tables' version");
    int version = 0;
    if (exists.Text(0, 0) == "t") {
      Result v = Exec("SELECT coalesce(max(version), 0) FROM zelto_schema", {});
      if (!v.Ok() || v.Rows() != 1) return fail("cannot read the tables' version");
      version = std::stoi(v.Text(0, 0));
    }
    if (version > kPostgresSchemaVersion) {
      Exec("ROLLBACK", {});
      refused = true;
      error = "the records database " + ConnectionDisplay(conninfo_) +
              " was written by a newer zeltoctl (tables of version " + std::to_string(version) +
              "; this zeltoctl knows up to " + std::to_string(kPostgresSchemaVersion) +
              "): it is left as it is and nothing is sent to it; records stay here until a "
              "newer zeltoctl sends them";
      return false;
    }
    if (version == kPostgresSchemaVersion) return Exec("COMMIT", {}).Ok() || fail("cannot commit");
    if (version == 0 && !Exec("CREATE TABLE IF NOT EXISTS zelto_schema (version integer NOT NULL)",
                              {})
                             .Ok())
      return fail("cannot create the tables");
    for (int v = version + 1; v <= kPostgresSchemaVersion; ++v)
      for (const char* statement : kMigrations[static_cast<std::size_t>(v - 1)])
        if (!Exec(statement, {}).Ok())
          return fail("cannot bring the tables to version " + std::to_string(v));
    if (!Exec("DELETE FROM zelto_schema", {}).Ok() ||
        !Exec("INSERT INTO zelto_schema (version) VALUES ($1::integer)",
              {std::to_string(kPostgresSchemaVersion)})
             .Ok() ||
        !Exec("COMMIT", {}).Ok())
      return fail("cannot record the tables' version");
    return true;
  }

  std::string conninfo_;
  int timeout_s_;
  PGconn* conn_ = nullptr;
};

struct PostgresRecordStore::Question {
  std::string serial, station;
  std::promise<std::optional<PassHistory>> answer;
  std::future<std::optional<PassHistory>> future;
};

PostgresRecordStore::PostgresRecordStore(std::string conninfo,
                                         std::unique_ptr<SqliteRecordStore> local,
                                         PostgresOptions options)
    : conninfo_(std::move(conninfo)), local_(std::move(local)), options_(options) {}

void PostgresRecordStore::StartShipper() {
  // Started by the first record or question, so that the commands that only read or send
  // (list, status, sync) run without it.
  if (options_.background && !shipper_.joinable()) shipper_ = std::thread([this] { ShipLoop(); });
}

PostgresRecordStore::~PostgresRecordStore() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (shipper_.joinable()) shipper_.join();
}

bool PostgresRecordStore::Append(CommissionRecord& record, std::string& error) {
  if (!local_->Append(record, error)) return false;
  StartShipper();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_ = true;
  }
  wake_.notify_all();
  return true;
}

bool PostgresRecordStore::ShipAll(Link& link, SqliteRecordStore& outbox, std::int64_t deadline_ms,
                                  int max_batches, std::int64_t& sent, std::string& error) {
  for (int n = 0; n < max_batches && NowMs() < deadline_ms; ++n) {
    auto batch = outbox.Unshipped(options_.batch, error);
    if (!batch) return false;
    if (batch->empty()) return true;
    if (!link.Exec("BEGIN", {}).Ok()) {
      error = "cannot send records: " + link.Error();
      return false;
    }
    std::vector<std::string> ids;
    for (const CommissionRecord& r : *batch) {
      const std::string outcome = r.station ? r.station->outcome : "";
      Result ins = link.Exec(
          "INSERT INTO zelto_records (id, time_utc, command, station, slot, serial, outcome, "
          "profile_hash, record) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9::jsonb) "
          "ON CONFLICT (id) DO NOTHING",
          {r.id, r.time_utc, r.command, r.station ? r.station->station : "",
           r.station ? r.station->slot : "", Cp1252ToUtf8(r.serial), outcome,
           r.station ? r.station->profile_hash : "",
           RecordJson(r).dump(-1, ' ', false, Json::error_handler_t::replace)});
      if (!ins.Ok()) {
        error = "the records server refused record " + r.id + ": " + link.Error();
        link.Exec("ROLLBACK", {});
        return false;
      }
      ids.push_back(r.id);
    }
    if (!link.Exec("COMMIT", {}).Ok()) {
      error = "cannot send records: " + link.Error();
      return false;
    }
    // Marked only once the server has them: a failure in between sends them again, which
    // the server takes as nothing new.
    if (!outbox.MarkShipped(ids, error)) return false;
    sent += static_cast<std::int64_t>(ids.size());
  }
  return true;
}

void PostgresRecordStore::ShipLoop() {
  std::string error;
  auto outbox = SqliteRecordStore::Open(local_->Location(), error);
  Link link(conninfo_, options_.connect_timeout_s);
  bool refused = false;
  std::int64_t next_try = 0;
  for (;;) {
    std::vector<std::shared_ptr<Question>> questions;
    bool stopping = false, ship = false;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      const auto due = [&] {
        return stop_ || !questions_.empty() || (pending_ && NowMs() >= next_try);
      };
      while (!due()) {
        if (pending_ && next_try > NowMs())
          wake_.wait_for(lock, std::chrono::milliseconds(next_try - NowMs()));
        else
          wake_.wait(lock);
      }
      questions.swap(questions_);
      stopping = stop_;
      ship = pending_ && (NowMs() >= next_try || stopping);
      if (ship) pending_ = false;
    }
    std::string why;
    // At the end, a server that was away is not tried again: the station does not wait for
    // it; the records are sent by the next run or `records sync`.
    const bool try_server = !refused && (!stopping || reachable_);
    bool ok = outbox != nullptr && try_server && link.Ready(why, refused);
    if (!outbox) why = "cannot open the local records: " + error;
    for (auto& q : questions) {
      std::optional<PassHistory> passes;
      if (ok) {
        Result r = link.Exec(
            "SELECT coalesce(bool_or(station = $2), false), "
            "coalesce(bool_or(station <> $2), false) "
            "FROM zelto_records WHERE serial = $1 AND outcome = 'PASS'",
            {Cp1252ToUtf8(q->serial), q->station});
        if (r.Ok() && r.Rows() == 1) passes = PassHistory{r.Text(0, 0) == "t", r.Text(0, 1) == "t"};
      }
      q->answer.set_value(passes);
    }
    if (ok && !questions.empty()) {
      std::lock_guard<std::mutex> lock(mutex_);
      slow_ = false;
    }
    if (ok && (ship || stopping)) {
      std::int64_t sent = 0;
      // One batch at a time while running, so that questions are answered in between.
      ok = ShipAll(link, *outbox, NowMs() + (stopping ? options_.finish_ms : 60000),
                   stopping ? std::numeric_limits<int>::max() : 1, sent, why);
      if (!ok) link.Close();
      std::string more;
      auto left = outbox->UnshippedCount(more);
      if (ok && left && *left > 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_ = true;  // a batch limit or a deadline: go on at once
      }
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (try_server || !outbox) {
        // Said once when the server goes away (or refuses) and once when it is back.
        if (options_.notices && !ok && why != last_error_) {
          const std::string line = "zeltoctl: warning: " + why +
                                   "; the records are kept here and sent when it can be "
                                   "reached (zeltoctl records status)\n";
          std::fputs(line.c_str(), stderr);
        }
        if (options_.notices && ok && !last_error_.empty())
          std::fputs(("zeltoctl: the records server " + ConnectionDisplay(conninfo_) +
                      " is reached again; the queued records are being sent\n")
                         .c_str(),
                     stderr);
        reachable_ = ok;
        last_error_ = ok ? "" : why;
      }
      if (!ok && ship) {
        pending_ = true;
        next_try = NowMs() + options_.retry_ms;
      }
    }
    if (stopping) return;
  }
}

std::shared_ptr<PostgresRecordStore::Question> PostgresRecordStore::Ask(
    const std::string& serial, const std::string& station) {
  StartShipper();
  if (!shipper_.joinable()) return nullptr;
  auto q = std::make_shared<Question>();
  q->serial = serial;
  q->station = station;
  q->future = q->answer.get_future();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // A server known to be away is not asked: the station does not wait for it.
    if (!reachable_ && !last_error_.empty()) return nullptr;
    questions_.push_back(q);
  }
  wake_.notify_all();
  return q;
}

void PostgresRecordStore::ExpectPasses(const std::string& serial, const std::string& station) {
  // Units that end without a PASS are never asked for: a bounded number is kept.
  if (expected_.size() >= 256) expected_.clear();
  if (auto q = Ask(serial, station)) expected_[{serial, station}] = std::move(q);
}

std::optional<PassHistory> PostgresRecordStore::Passes(const std::string& serial,
                                                       const std::string& station,
                                                       std::string& error) {
  auto here = local_->Passes(serial, station, error);
  std::shared_ptr<Question> q;
  if (auto it = expected_.find({serial, station}); it != expected_.end()) {
    q = std::move(it->second);
    expected_.erase(it);
  } else {
    q = Ask(serial, station);
  }
  if (!q) return here;
  bool slow = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    slow = slow_;
  }
  if (q->future.wait_for(std::chrono::milliseconds(slow ? 0 : options_.passes_wait_ms)) !=
      std::future_status::ready) {
    std::lock_guard<std::mutex> lock(mutex_);
    slow_ = true;
    return here;
  }
  const auto server = q->future.get();
  if (!server) return here;
  PassHistory merged = *server;
  if (here) {
    merged.here = merged.here || here->here;
    merged.elsewhere = merged.elsewhere || here->elsewhere;
  }
  return merged;
}

std::optional<std::vector<CommissionRecord>> PostgresRecordStore::Query(
    const RecordFilter& filter, std::string& error) {
  Link link(conninfo_, options_.connect_timeout_s);
  bool refused = false;
  if (!link.Ready(error, refused)) return std::nullopt;
  std::string sql = "SELECT id, record::text FROM zelto_records WHERE true";
  std::vector<std::string> params;
  auto where = [&](const char* column, const char* op, const std::string& value) {
    if (value.empty()) return;
    params.push_back(value);
    sql += std::string(" AND ") + column + " " + op + " $" + std::to_string(params.size());
  };
  where("serial", "=", Cp1252ToUtf8(filter.serial));
  where("time_utc", ">=", filter.since);
  where("station", "=", filter.station);
  where("slot", "=", filter.slot);
  where("outcome", "=", filter.outcome);
  where("profile_hash", "=", filter.profile_hash);
  sql += " ORDER BY time_utc, seq";
  if (filter.limit > 0) {
    params.push_back(std::to_string(filter.limit));
    sql += " LIMIT $" + std::to_string(params.size()) + "::bigint";
  }
  Result r = link.Exec(sql.c_str(), params);
  if (!r.Ok()) {
    error = "cannot read the records on " + ConnectionDisplay(conninfo_) + ": " + link.Error();
    return std::nullopt;
  }
  std::vector<CommissionRecord> records;
  for (int i = 0; i < r.Rows(); ++i) {
    const Json j = Json::parse(r.Text(i, 1), nullptr, false);
    if (!j.is_object()) continue;
    // The server is shared: a record some other program wrote there with a field of the wrong
    // kind is reported, never taken for a crash.
    try {
      records.push_back(RecordFrom(r.Text(i, 0), j));
    } catch (const Json::exception& e) {
      error = "cannot read record " + r.Text(i, 0) + " on " + ConnectionDisplay(conninfo_) +
              ": " + e.what();
      return std::nullopt;
    }
  }
  return records;
}

std::optional<std::int64_t> PostgresRecordStore::SyncNow(std::string& error) {
  Link link(conninfo_, options_.connect_timeout_s);
  bool refused = false;
  if (!link.Ready(error, refused)) return std::nullopt;
  std::int64_t sent = 0;
  if (!ShipAll(link, *local_, std::numeric_limits<std::int64_t>::max(),
               std::numeric_limits<int>::max(), sent, error))
    return std::nullopt;
  return sent;
}

std::optional<ShipStatus> PostgresRecordStore::Shipping(bool probe) {
  ShipStatus status;
  std::string error;
  status.unshipped = local_->UnshippedCount(error).value_or(-1);
  if (auto first = local_->Unshipped(1, error); first && !first->empty())
    status.oldest = first->front().time_utc;
  if (probe) {
    Link link(conninfo_, options_.connect_timeout_s);
    bool refused = false;
    status.reachable = link.Ready(status.last_error, refused);
  } else {
    std::lock_guard<std::mutex> lock(mutex_);
    status.reachable = reachable_;
    status.last_error = last_error_;
  }
  return status;
}

std::unique_ptr<RecordStore> OpenPostgresStore(const std::string& conninfo,
                                               std::unique_ptr<SqliteRecordStore> local,
                                               std::string& error) {
  if (!CheckConnectionString(conninfo, error)) return nullptr;
  if (!local) {
    error = "no local record store to keep the records in first";
    return nullptr;
  }
  PostgresOptions options;
  options.notices = true;
  return std::make_unique<PostgresRecordStore>(conninfo, std::move(local), options);
}

}  // namespace zelto::cli
