# SPDX-License-Identifier: MIT
# Windows: stand-ins for the vendor's ftd2xx.dll, each in its own folder.
#  - the scripted one and the one without line-setting calls, for the backend's tests (the
#    same source as libftd2xx.so on Linux);
#  - one with the simulated programmer and a Duroz740 behind it, so that zeltoctl.exe runs
#    under Wine against a whole bench: tests/windows/zeltoctl_under_wine.sh puts its folder on the
#    search path.
set(ZELTO_STANDIN_DIR ${CMAKE_BINARY_DIR}/standin-ftd2xx)
set(ZELTO_STANDIN_BASIC_DIR ${CMAKE_BINARY_DIR}/standin-ftd2xx-basic)
set(ZELTO_STANDIN_BENCH_DIR ${CMAKE_BINARY_DIR}/standin-ftd2xx-bench)
add_library(zelto_ftd2xx_standin SHARED ftd2xx_standin.cpp)
add_library(zelto_ftd2xx_standin_basic SHARED ftd2xx_standin.cpp)
target_compile_definitions(zelto_ftd2xx_standin_basic PRIVATE STANDIN_WITHOUT_LINE_SETTINGS)
add_library(zelto_ftd2xx_standin_bench SHARED ftd2xx_bench_standin.cpp)
target_link_libraries(zelto_ftd2xx_standin_bench PRIVATE zelto_cli zelto_sim)
foreach(_standin standin standin_basic standin_bench)
  string(TOUPPER ${_standin} _dir)
  set_target_properties(zelto_ftd2xx_${_standin} PROPERTIES
    OUTPUT_NAME ftd2xx PREFIX "" RUNTIME_OUTPUT_DIRECTORY ${ZELTO_${_dir}_DIR}
    ARCHIVE_OUTPUT_DIRECTORY ${ZELTO_${_dir}_DIR})
endforeach()

zelto_gtest(drivers_tests
  SOURCES d2xx_dynamic_test.cpp
  LIBS zelto_drivers zelto_sim zelto_test_support)
add_dependencies(drivers_tests zelto_ftd2xx_standin zelto_ftd2xx_standin_basic)
# Windows looks for a DLL in the program's own folder first: the tests sit beside the
# complete stand-in and find it by its plain name, as zeltoctl.exe finds the vendor's.
set_target_properties(drivers_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${ZELTO_STANDIN_DIR})
target_compile_definitions(drivers_tests PRIVATE
  ZELTO_STANDIN_BASIC_PATH="${ZELTO_STANDIN_BASIC_DIR}/ftd2xx.dll")
