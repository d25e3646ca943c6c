# SPDX-License-Identifier: MIT
# zeltoctl: the command-line companion, on the core, the driver backends and the simulated
# bench; no Qt. CLI11 and nlohmann-json are header-only.
find_package(CLI11 CONFIG QUIET)
find_package(nlohmann_json 3.10 REQUIRED)
if(NOT CLI11_FOUND)
  find_path(ZELTO_CLI11_INCLUDE CLI/CLI.hpp REQUIRED)
endif()

add_library(zelto_cli STATIC
  cli/event_loop.cpp
  cli/session.cpp
  cli/stop.cpp
  cli/records.cpp
  cli/commands.cpp
  cli/sim_setup.cpp
  cli/doctor.cpp
  cli/walk.cpp
  cli/walk_report.cpp
)
target_include_directories(zelto_cli PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(zelto_cli PUBLIC zelto_core zelto_drivers zelto_sim nlohmann_json::nlohmann_json)

add_executable(zeltoctl cli/main.cpp)
target_link_libraries(zeltoctl PRIVATE zelto_cli)
if(CLI11_FOUND)
  target_link_libraries(zeltoctl PRIVATE CLI11::CLI11)
else()
  target_include_directories(zeltoctl PRIVATE ${ZELTO_CLI11_INCLUDE})
endif()
# The package version, as the windowed programs print it.
target_compile_definitions(zeltoctl PRIVATE ZELTO_VERSION="${ZELTO_VERSION_STRING}")
# Beside the windowed programs and their string table.
set_target_properties(zeltoctl PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

include(GNUInstallDirs)
# The package's data folder, where the string table is installed, seen from the installed
# zeltoctl, so that the words beside the values are found there too.
file(RELATIVE_PATH _zelto_strings_from_bin ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}
     ${CMAKE_INSTALL_PREFIX}/${ZELTO_DATA_DIR})
target_compile_definitions(zeltoctl PRIVATE ZELTO_STRINGS_FROM_BIN="${_zelto_strings_from_bin}")
zelto_install_program(zeltoctl)
# The page is written by hand (its exit codes and examples say more than --help); installed
# gzipped like the generated pages of the windowed programs.
if(ZELTO_MANPAGES)
  set(_zeltoctl_page ${CMAKE_BINARY_DIR}/man/zeltoctl.1.gz)
  add_custom_command(
    OUTPUT ${_zeltoctl_page}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${ZELTO_GZIP} -9nc ${CMAKE_CURRENT_SOURCE_DIR}/cli/zeltoctl.1 > ${_zeltoctl_page}
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/cli/zeltoctl.1
    COMMENT "Compressing the manual page of zeltoctl")
  add_custom_target(zeltoctl_manpage ALL DEPENDS ${_zeltoctl_page})
  install(FILES ${_zeltoctl_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  install(FILES cli/zeltoctl.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

zelto_gtest(cli_tests
  SOURCES
    tests/cli/radar_params_test.cpp
    tests/cli/records_test.cpp
    tests/cli/commands_test.cpp
    tests/cli/doctor_test.cpp
    tests/cli/comm_usb_serial_test.cpp
    tests/cli/zeltoctl_process_test.cpp
  LIBS zelto_cli PkgConfig::LIBFTDI1)
if(TARGET cli_tests)
  target_include_directories(cli_tests PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_definitions(cli_tests PRIVATE ZELTO_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
                                               ZELTOCTL="$<TARGET_FILE:zeltoctl>")
  add_dependencies(cli_tests zeltoctl)
endif()

if(ZELTO_TESTS)
  # The executable itself, a few quick runs on the simulated bench (each well under 5 s).
  set(_zeltoctl $<TARGET_FILE:zeltoctl>)
  add_test(NAME zeltoctl_version COMMAND ${_zeltoctl} --version)
  string(REPLACE "+" "[+]" _zelto_version_re "${ZELTO_VERSION_STRING}")
  set_tests_properties(zeltoctl_version PROPERTIES PASS_REGULAR_EXPRESSION "^zeltoctl ${_zelto_version_re}\n$")
  add_test(NAME zeltoctl_get_sim COMMAND ${_zeltoctl} --sim --sim-params 7,3,2,1,1,2 get --json)
  set_tests_properties(zeltoctl_get_sim PROPERTIES
    PASS_REGULAR_EXPRESSION "\"sensitivity\": 7,[^}]*\"relay\": 1.5,[^}]*\"height\": 3.5" TIMEOUT 5)
  add_test(NAME zeltoctl_set_refused_sim
    COMMAND ${CMAKE_COMMAND} -DZELTOCTL=$<TARGET_FILE:zeltoctl> -DEXPECT=6
            "-DARGS=--sim;--sim-refuse;sensitivity=9;set;sensitivity=9"
            -P ${CMAKE_CURRENT_SOURCE_DIR}/tests/cli/expect_exit.cmake)
  add_test(NAME zeltoctl_two_adapters_sim
    COMMAND ${CMAKE_COMMAND} -DZELTOCTL=$<TARGET_FILE:zeltoctl> -DEXPECT=3
            "-DARGS=--sim;--sim-adapters;2;get" -P ${CMAKE_CURRENT_SOURCE_DIR}/tests/cli/expect_exit.cmake)
  add_test(NAME zeltoctl_bad_usage
    COMMAND ${CMAKE_COMMAND} -DZELTOCTL=$<TARGET_FILE:zeltoctl> -DEXPECT=2
            "-DARGS=--sim;set;loudness=3" -P ${CMAKE_CURRENT_SOURCE_DIR}/tests/cli/expect_exit.cmake)
  add_test(NAME zeltoctl_adapter_in_use_sim
    COMMAND ${CMAKE_COMMAND} -DZELTOCTL=$<TARGET_FILE:zeltoctl> -DEXPECT=4
            "-DARGS=--sim;--sim-held;info" -P ${CMAKE_CURRENT_SOURCE_DIR}/tests/cli/expect_exit.cmake)
  set_tests_properties(zeltoctl_set_refused_sim zeltoctl_two_adapters_sim zeltoctl_bad_usage
                       zeltoctl_adapter_in_use_sim
    PROPERTIES TIMEOUT 5)
endif()
