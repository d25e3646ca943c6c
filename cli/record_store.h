// SPDX-License-Identifier: MIT
// The record store: every commissioning record `--log` writes, kept in a database as well, so
// that a unit's history, a station's yield and a serial seen twice can be asked for. One
// interface, two stores: SQLite beside each station (the default, one database per user) and
// PostgreSQL for a whole line (records are committed to the local SQLite first and shipped
// from there). Records are data: every value goes to the database as a bound parameter.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/records.h"

namespace zelto::cli {

// How both stores keep parameter bytes inside a record: a set of six as a JSON array, a single
// byte as a number or null. Read back, a set of the wrong shape is absent, an element that is
// no byte 0, and a single value that is no byte absent: a record is data, whoever wrote it.
nlohmann::json StoredParams(const std::optional<RadarParams>& params);
std::optional<RadarParams> ParamsFromStored(const nlohmann::json& j);
nlohmann::json StoredWire(const std::optional<std::uint8_t>& wire);
std::optional<std::uint8_t> WireFromStored(const nlohmann::json& j);

// The version of the tables this zeltoctl writes. Older databases are brought forward when
// opened; a newer one (written by a later zeltoctl) is refused and left as it is.
constexpr int kRecordSchemaVersion = 1;

// What to look for; empty fields match everything. Records come back in the order they were
// made (time, then the order they were stored).
struct RecordFilter {
  std::string serial;        // the sensor's, as received (Windows-1252 bytes), exact
  std::string since;         // ISO 8601 UTC: records at or after it ("2026-12-09" works)
  std::string station;       // station name, exact
  std::string slot;          // slot name as the record holds it (Windows-1252 bytes), exact
  std::string outcome;       // "PASS", "FAIL", "ERROR", "OUT OF SERVICE", exact
  std::string profile_hash;  // exact
  std::size_t limit = 0;     // 0: no limit
};

// What the store knows of a serial's PASSes, for the station's re-test and duplicate check.
struct PassHistory {
  bool here = false;       // a PASS at this station
  bool elsewhere = false;  // a PASS at another station (another name)
};

// The queue of records waiting for a shared store, for `records status`.
struct ShipStatus {
  std::int64_t unshipped = 0;
  std::string oldest;  // time of the oldest record not yet sent
  bool reachable = false;
  std::string last_error;  // why the last try failed; empty when it went through
};

class RecordStore {
 public:
  virtual ~RecordStore() = default;

  // Where the records go, for messages (a path, or a connection without its password).
  virtual std::string Location() const = 0;

  // Stores the record durably: when it returns true the record survives the process being
  // killed and the machine losing power. A record without an id gets a new one (written
  // back into `record`); a record whose id is already stored is not stored again, and that
  // is success. False with the reason in `error`.
  virtual bool Append(CommissionRecord& record, std::string& error) = 0;

  // The records matching the filter, oldest first, with their ids; nothing (the reason in
  // `error`) when the store cannot be read.
  virtual std::optional<std::vector<CommissionRecord>> Query(const RecordFilter& filter,
                                                             std::string& error) = 0;

  // The serial's PASSes (serial as received); nothing when the store cannot be asked (a
  // shared store that is away): the caller goes on with what it knows itself.
  virtual std::optional<PassHistory> Passes(const std::string& serial,
                                            const std::string& station, std::string& error) = 0;

  // A hint that Passes(serial, station) is coming (a station at the start of a unit): a
  // shared store asks its server meanwhile, so that the answer is there when the unit ends
  // and the station does not wait for the network. Nothing to do for a local store.
  virtual void ExpectPasses(const std::string& serial, const std::string& station) {
    (void)serial;
    (void)station;
  }

  // The queue to a shared store (`probe`: try the server now); nothing for a store that
  // sends its records nowhere.
  virtual std::optional<ShipStatus> Shipping(bool probe) {
    (void)probe;
    return std::nullopt;
  }
  // Sends the queue to the shared store now: the number sent, or nothing with the reason in
  // `error`. A store that sends nowhere has nothing to send: 0.
  virtual std::optional<std::int64_t> SyncNow(std::string& error) {
    (void)error;
    return 0;
  }
};

// A new record id: 128 bits from the system's random source, as 32 lowercase hex digits.
std::string NewRecordId();

// The default database: $XDG_DATA_HOME/zeltosoft/records.sqlite, else
// ~/.local/share/zeltosoft/records.sqlite (on Windows under %LOCALAPPDATA%\ZeltoSoft).
// Empty when no home folder is known.
std::string DefaultRecordStorePath();

// True when `location` names a PostgreSQL server ("postgresql://..." or "postgres://...").
bool IsPostgresLocation(const std::string& location);

// Whether this zeltoctl was built with the SQLite store / the PostgreSQL store.
bool RecordStoreBuiltIn();
bool PostgresStoreBuiltIn();

// Opens the store at `location`: a path to an SQLite database (created with its folder when
// missing), or a PostgreSQL connection string (records kept in `local_path`, the SQLite
// database they are committed to first, and shipped from there). Nothing, with the reason in
// `error`, when it cannot be opened or is of a newer schema, or when this zeltoctl was built
// without that store.
std::unique_ptr<RecordStore> OpenRecordStore(const std::string& location,
                                             const std::string& local_path, std::string& error);

}  // namespace zelto::cli
