# SPDX-License-Identifier: MIT
# GoogleTest and GoogleMock for a cross build, compiled from Debian's sources (package
# googletest) with the build's own toolchain, under the names find_package(GTest) gives.
set(ZELTO_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
if(NOT EXISTS ${ZELTO_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "No GoogleTest sources in ${ZELTO_GOOGLETEST_SOURCE} (install googletest)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${ZELTO_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(_zelto_gtest_lib gtest gtest_main gmock gmock_main)
  if(NOT TARGET GTest::${_zelto_gtest_lib})
    add_library(GTest::${_zelto_gtest_lib} ALIAS ${_zelto_gtest_lib})
  endif()
endforeach()
set(GTest_FOUND TRUE)
