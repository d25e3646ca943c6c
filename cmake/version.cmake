# SPDX-License-Identifier: MIT
# The package version: the project version, and in a git checkout the distance from the last
# release tag (vX.Y.Z) or, before the first tag, from the start of history, with the commit:
# 1.0.0+git42.g1a2b3c4. A Debian version must start with a digit, and "+" sorts a snapshot
# after the release it grows from. The windows keep showing the project version alone.
# Set at configure time; ZELTO_PACKAGE_VERSION=... overrides it (a tarball build, say).
set(ZELTO_PACKAGE_VERSION "" CACHE STRING "Package version (empty: from git, else the project's)")
set(_zelto_version "${ZELTO_PACKAGE_VERSION}")
if(_zelto_version STREQUAL "")
  set(_zelto_version "${PROJECT_VERSION}")
  find_package(Git QUIET)
  if(GIT_FOUND AND EXISTS "${PROJECT_SOURCE_DIR}/.git")
    execute_process(
      COMMAND "${GIT_EXECUTABLE}" describe --tags --long --match "v[0-9]*"
      WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}"
      OUTPUT_VARIABLE _describe OUTPUT_STRIP_TRAILING_WHITESPACE
      RESULT_VARIABLE _described ERROR_QUIET)
    if(_described EQUAL 0 AND _describe MATCHES "^v(.+)-([0-9]+)-g([0-9a-f]+)$")
      set(_base "${CMAKE_MATCH_1}")
      set(_count "${CMAKE_MATCH_2}")
      set(_hash "${CMAKE_MATCH_3}")
    else()
      set(_base "${PROJECT_VERSION}")
      execute_process(
        COMMAND "${GIT_EXECUTABLE}" rev-list --count HEAD
        WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}"
        OUTPUT_VARIABLE _count OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      execute_process(
        COMMAND "${GIT_EXECUTABLE}" rev-parse --short=7 HEAD
        WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}"
        OUTPUT_VARIABLE _hash OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    endif()
    if(_count MATCHES "^[0-9]+$" AND _hash MATCHES "^[0-9a-f]+$")
      if(_count EQUAL 0)
        set(_zelto_version "${_base}")
      else()
        set(_zelto_version "${_base}+git${_count}.g${_hash}")
      endif()
    endif()
  endif()
endif()
set(ZELTO_VERSION_STRING "${_zelto_version}")
message(STATUS "ZeltoSoft package version: ${ZELTO_VERSION_STRING}")

# The version as numbers for the programs (their windows and --version): a header made from
# version.h.in, used through the target zelto_version.
configure_file(${CMAKE_CURRENT_LIST_DIR}/version.h.in
               ${CMAKE_BINARY_DIR}/generated/zelto_version.h @ONLY)
add_library(zelto_version INTERFACE)
target_include_directories(zelto_version INTERFACE ${CMAKE_BINARY_DIR}/generated)
