# SPDX-License-Identifier: MIT
# A GoogleTest executable registered with CTest; the test folders use it.
#   zelto_gtest(name SOURCES a.cpp b.cpp LIBS zelto_sim)
function(zelto_gtest name)
  if(NOT ZELTO_TESTS)
    return()
  endif()
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_LIBS} GTest::gtest_main GTest::gmock)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120)
endfunction()
