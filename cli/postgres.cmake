# SPDX-License-Identifier: MIT
# The PostgreSQL record store for a line of stations (zelto_records_pg), on libpq, where
# libpq is found (Debian: libpq-dev). Without it (the Windows cross build, a machine without
# libpq) zeltoctl is built without it and a postgresql:// location says so.
option(ZELTO_POSTGRES "Build zeltoctl's PostgreSQL record store (needs libpq)" ON)
if(ZELTO_POSTGRES)
  find_package(PostgreSQL QUIET)
  if(PostgreSQL_FOUND)
    add_library(zelto_records_pg STATIC ${CMAKE_CURRENT_LIST_DIR}/postgres_store.cpp)
    target_link_libraries(zelto_records_pg PUBLIC zelto_records_sqlite PostgreSQL::PostgreSQL)
  else()
    message(STATUS "zeltoctl's PostgreSQL record store is not built: libpq was not found")
  endif()
endif()
