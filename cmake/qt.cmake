# SPDX-License-Identifier: MIT
# The Qt 6 Widgets front end: the three windows, the Qt timer adapter, the two programs
# (zeltosoft on the real drivers, zeltosoft-demo on the simulated bench) and their tests.
find_package(Qt6 REQUIRED COMPONENTS Widgets)

configure_file(${CMAKE_CURRENT_SOURCE_DIR}/app/version.h.in
               ${CMAKE_CURRENT_BINARY_DIR}/generated/zelto_version.h @ONLY)

add_library(zelto_qt STATIC
  app/command_line.cpp
  app/diag_logging.cpp
  app/qt_common.cpp
  app/qt_timer.cpp
  app/qt_ui.cpp
  app/run_program.cpp
  shell/form_start.cpp
  shell/form_about.cpp
  radar/form_duroz740.cpp
  radar/led_indicator.cpp
  radar/signal_bar.cpp
  radar/area_canvas.cpp
  gui/history_window.cpp
  gui/level_label.cpp
  data/zeltosoft.qrc
)
set_target_properties(zelto_qt PROPERTIES AUTOMOC ON AUTORCC ON)
target_include_directories(zelto_qt PUBLIC
  ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_BINARY_DIR}/generated)
target_link_libraries(zelto_qt PUBLIC zelto_core Qt6::Widgets)

# Installed, the programs keep their files in this private folder (see below); a program that
# finds itself there keeps the language in the user's config folder instead of beside itself.
set(ZELTO_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/zeltosoft)
set_property(SOURCE app/run_program.cpp APPEND PROPERTY COMPILE_DEFINITIONS
  ZELTO_INSTALL_FOLDER="${CMAKE_INSTALL_PREFIX}/${ZELTO_INSTALL_DIR}")

# Both programs sit in one folder with the string table they read at start-up.
set(ZELTO_BIN_DIR ${CMAKE_BINARY_DIR}/bin)

add_executable(zeltosoft app/main.cpp)
target_link_libraries(zeltosoft PRIVATE zelto_qt)
if(TARGET zelto_drivers AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/usb/driver_select.h)
  target_link_libraries(zeltosoft PRIVATE zelto_drivers)
  target_compile_definitions(zeltosoft PRIVATE ZELTO_HAVE_SYSTEM_DRIVER)
endif()

add_executable(zeltosoft-demo app/demo_main.cpp app/demo_walk.cpp)
set_target_properties(zeltosoft-demo PROPERTIES AUTOMOC ON)
target_link_libraries(zeltosoft-demo PRIVATE zelto_qt zelto_sim)

# Copied again whenever the table changes, not only when a program is relinked.
add_custom_command(
  OUTPUT ${ZELTO_BIN_DIR}/StringTable.txt
  COMMAND ${CMAKE_COMMAND} -E copy_if_different
          ${CMAKE_CURRENT_SOURCE_DIR}/data/StringTable.txt ${ZELTO_BIN_DIR}/StringTable.txt
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/data/StringTable.txt
  VERBATIM)
add_custom_target(zelto_string_table ALL DEPENDS ${ZELTO_BIN_DIR}/StringTable.txt)
foreach(program zeltosoft zeltosoft-demo)
  set_target_properties(${program} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${ZELTO_BIN_DIR})
  add_dependencies(${program} zelto_string_table)
  # Only bench/run's own build lets a program be timed through the environment: the shipped
  # programs read no variable of their own.
  if(ZELTO_STARTUP_PROBE)
    target_compile_definitions(${program} PRIVATE ZELTO_STARTUP_PROBE)
  endif()
endforeach()

# Installed into a private folder with links from bin/ (the program resolves its own folder
# through the links). The string table is data, kept in the package's data folder; a link
# beside the executables lets them find it where they look.
install(CODE "
  set(dir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${ZELTO_INSTALL_DIR}\")
  file(MAKE_DIRECTORY \"\${dir}\")
  file(RELATIVE_PATH target \"\${CMAKE_INSTALL_PREFIX}/${ZELTO_INSTALL_DIR}\"
       \"\${CMAKE_INSTALL_PREFIX}/${ZELTO_DATA_DIR}/StringTable.txt\")
  file(CREATE_LINK \"\${target}\" \"\${dir}/StringTable.txt\" SYMBOLIC)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES
       \"\${CMAKE_INSTALL_PREFIX}/${ZELTO_INSTALL_DIR}/StringTable.txt\")
  message(STATUS \"Installing: \${dir}/StringTable.txt\")")
zelto_install_program(zeltosoft PRIVATE_DIR ${ZELTO_INSTALL_DIR}
  MAN_NAME "configure and watch Duroz740 radar sensors through a ZeltoProg USB adapter"
  MAN_INCLUDE ${CMAKE_CURRENT_SOURCE_DIR}/data/zeltosoft.h2m)
zelto_install_program(zeltosoft-demo PRIVATE_DIR ${ZELTO_INSTALL_DIR}
  MAN_NAME "ZeltoSoft on a simulated ZeltoProg adapter and Duroz740"
  MAN_INCLUDE ${CMAKE_CURRENT_SOURCE_DIR}/data/zeltosoft.h2m)

if(ZELTO_TESTS)
  add_subdirectory(tests/qt)
endif()
