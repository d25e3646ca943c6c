# SPDX-License-Identifier: MIT
# The real driver backends behind the driver port: the vendor's D2XX library, loaded at run
# time, and libftdi1; plus the choice between them.
add_library(zelto_drivers STATIC
  usb/d2xx_dynamic.cpp
  usb/driver_select.cpp
)
target_link_libraries(zelto_drivers PUBLIC zelto_core PRIVATE ${CMAKE_DL_LIBS})
if(ZELTO_LIBFTDI)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(LIBFTDI1 REQUIRED IMPORTED_TARGET libftdi1)
  target_sources(zelto_drivers PRIVATE usb/libftdi_driver.cpp)
  target_link_libraries(zelto_drivers PRIVATE PkgConfig::LIBFTDI1)
else()
  target_compile_definitions(zelto_drivers PUBLIC ZELTO_WITHOUT_LIBFTDI)
endif()

if(ZELTO_TESTS AND WIN32)
  include(cmake/windows_standin.cmake)
elseif(ZELTO_TESTS)
  # Stand-ins for the vendor library, found by the tests through the dynamic loader: one
  # complete, one without the optional line-setting calls.
  set(ZELTO_STANDIN_DIR ${CMAKE_CURRENT_BINARY_DIR}/standin-ftd2xx)
  set(ZELTO_STANDIN_BASIC_DIR ${CMAKE_CURRENT_BINARY_DIR}/standin-ftd2xx-basic)
  add_library(zelto_ftd2xx_standin SHARED tests/drivers/ftd2xx_standin.cpp)
  add_library(zelto_ftd2xx_standin_basic SHARED tests/drivers/ftd2xx_standin.cpp)
  target_compile_definitions(zelto_ftd2xx_standin_basic PRIVATE STANDIN_WITHOUT_LINE_SETTINGS)
  set_target_properties(zelto_ftd2xx_standin PROPERTIES
    OUTPUT_NAME ftd2xx LIBRARY_OUTPUT_DIRECTORY ${ZELTO_STANDIN_DIR})
  set_target_properties(zelto_ftd2xx_standin_basic PROPERTIES
    OUTPUT_NAME ftd2xx LIBRARY_OUTPUT_DIRECTORY ${ZELTO_STANDIN_BASIC_DIR})

  zelto_gtest(drivers_tests
    SOURCES
      tests/drivers/d2xx_dynamic_test.cpp
      tests/drivers/libftdi_driver_test.cpp
      tests/drivers/driver_select_test.cpp
    LIBS zelto_drivers zelto_sim PkgConfig::LIBFTDI1 ${CMAKE_DL_LIBS})
  add_dependencies(drivers_tests zelto_ftd2xx_standin zelto_ftd2xx_standin_basic)
  # Loading the library by its plain name must find the complete stand-in the way the loader
  # finds an installed one: through LD_LIBRARY_PATH for every test CTest runs, and through the
  # program's run path when it is started by hand. (Sanitizer builds intercept dlopen, and
  # then only LD_LIBRARY_PATH is searched.) The discovered tests are only known inside CTest,
  # so their environment is set by a script that CTest runs after the discovery's own.
  set_target_properties(drivers_tests PROPERTIES BUILD_RPATH ${ZELTO_STANDIN_DIR})
  set(_zelto_drivers_env ${CMAKE_CURRENT_BINARY_DIR}/drivers_tests_environment.cmake)
  file(WRITE ${_zelto_drivers_env}
    "if(DEFINED drivers_tests_TESTS)\n"
    "  set_tests_properties(\${drivers_tests_TESTS} PROPERTIES ENVIRONMENT_MODIFICATION\n"
    "    \"LD_LIBRARY_PATH=path_list_prepend:${ZELTO_STANDIN_DIR}\")\n"
    "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${_zelto_drivers_env})
  target_compile_definitions(drivers_tests PRIVATE
    ZELTO_STANDIN_PATH="${ZELTO_STANDIN_DIR}/libftd2xx.so"
    ZELTO_STANDIN_BASIC_PATH="${ZELTO_STANDIN_BASIC_DIR}/libftd2xx.so")
endif()
