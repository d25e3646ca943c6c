// SPDX-License-Identifier: MIT
// Which store a location names, with what this zeltoctl was built with.
#include "cli/record_store.h"

#ifdef ZELTO_HAVE_SQLITE_STORE
#include "cli/sqlite_store.h"
#endif
#ifdef ZELTO_HAVE_POSTGRES_STORE
#include "cli/postgres_store.h"
#endif

namespace zelto::cli {

bool RecordStoreBuiltIn() {
#ifdef ZELTO_HAVE_SQLITE_STORE
  return true;
#else
  return false;
#endif
}

bool PostgresStoreBuiltIn() {
#ifdef ZELTO_HAVE_POSTGRES_STORE
  return true;
#else
  return false;
#endif
}

std::unique_ptr<RecordStore> OpenRecordStore(const std::string& location,
                                             const std::string& local_path, std::string& error) {
#ifdef ZELTO_HAVE_SQLITE_STORE
  if (IsPostgresLocation(location)) {
#ifdef ZELTO_HAVE_POSTGRES_STORE
    auto local = SqliteRecordStore::Open(local_path, error);
    if (!local) return nullptr;
    return OpenPostgresStore(location, std::move(local), error);
#else
    (void)local_path;
    error = "this zeltoctl was built without the PostgreSQL record store";
    return nullptr;
#endif
  }
  (void)local_path;
  return SqliteRecordStore::Open(location, error);
#else
  (void)location;
  (void)local_path;
  error = "this zeltoctl was built without the record store (SQLite was not found)";
  return nullptr;
#endif
}

}  // namespace zelto::cli
