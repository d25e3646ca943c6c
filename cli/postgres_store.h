// SPDX-License-Identifier: MIT
// The PostgreSQL record store for a line of stations, built as its own library
// (zelto_records_pg, cli/postgres.cmake) where libpq is found. Records are committed to the
// local SQLite store first and shipped from its outbox in the background, so that a station
// never waits for the network nor loses a record while the server is away.
#pragma once

#include <memory>
#include <string>

#include "cli/record_store.h"
#include "cli/sqlite_store.h"

namespace zelto::cli {

// `conninfo`: a libpq connection string ("postgresql://user@host/db?sslmode=require");
// passwords come from libpq's own places (.pgpass, PGPASSFILE), never from the command line.
// `local`: the SQLite store records are committed to first. Nothing, the reason in `error`,
// when the local store cannot be used; a server that is away is not an error here.
std::unique_ptr<RecordStore> OpenPostgresStore(const std::string& conninfo,
                                               std::unique_ptr<SqliteRecordStore> local,
                                               std::string& error);

}  // namespace zelto::cli
