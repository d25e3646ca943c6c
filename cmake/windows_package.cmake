# SPDX-License-Identifier: MIT
# Windows: two packages from one build (configured with the windows-mingw preset).
#  - cpack -G ZIP: zeltoctl.exe alone, to unpack anywhere: the "cli" component, everything
#    in one folder as the program expects it (StringTable.txt beside it), the licence texts
#    and a README for Windows.
#  - cpack -G NSIS (with -DZELTO_QT=ON and a Qt for Windows): ZeltoSoft-<version>-win64-setup.exe,
#    a per-machine installer into Program Files with both windowed programs, zeltoctl.exe,
#    Qt's DLLs and plugins, the string table, the licences and the README; Start-menu entries
#    and an uninstaller. No vendor driver: the README says where it comes from.
set(_zelto_cli COMPONENT cli)
install(FILES data/StringTable.txt DESTINATION . ${_zelto_cli})
install(FILES data/README-Windows.txt DESTINATION . ${_zelto_cli})
install(FILES LICENSE DESTINATION . RENAME LICENSE.txt ${_zelto_cli})
# zeltoctl.exe carries CLI11 and nlohmann-json (header-only) and the compiler's runtime
# (libstdc++ and libgcc under the GCC runtime library exception, the mingw-w64 CRT and
# winpthreads), linked in: their terms go along, from the Debian packages they came from.
# The installer adds Qt's (LGPL 3, with the GPL 3 it builds on); the runtime DLLs beside Qt
# are the same gcc and mingw-w64 runtime.
set(_zelto_notices
    "libcli11-dev|CLI11|cli"
    "nlohmann-json3-dev|nlohmann-json|cli"
    "gcc-mingw-w64-x86-64-posix-runtime|gcc-runtime|cli"
    "mingw-w64-x86-64-dev|mingw-w64-runtime|cli")
if(ZELTO_QT)
  list(APPEND _zelto_notices "libqt6core6|Qt|gui")
endif()
foreach(_zelto_notice ${_zelto_notices})
  string(REPLACE "|" ";" _zelto_notice "${_zelto_notice}")
  list(GET _zelto_notice 0 _zelto_package)
  list(GET _zelto_notice 1 _zelto_name)
  list(GET _zelto_notice 2 _zelto_component)
  set(_zelto_file /usr/share/doc/${_zelto_package}/copyright)
  if(EXISTS ${_zelto_file})
    install(FILES ${_zelto_file} DESTINATION licenses RENAME ${_zelto_name}.txt
            COMPONENT ${_zelto_component})
  else()
    message(WARNING "${_zelto_file} is missing: the package would lack ${_zelto_name}'s licence")
  endif()
endforeach()
if(ZELTO_QT)
  foreach(_zelto_licence LGPL-3 GPL-3)
    install(FILES /usr/share/common-licenses/${_zelto_licence} DESTINATION licenses
            RENAME ${_zelto_licence}.txt COMPONENT gui)
  endforeach()
endif()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME ZeltoSoft)
set(CPACK_PACKAGE_VENDOR "ZeltoSoft developers")
set(CPACK_PACKAGE_VERSION "${ZELTO_VERSION_STRING}")
set(CPACK_PACKAGE_VERSION_MAJOR "${PROJECT_VERSION_MAJOR}")
set(CPACK_PACKAGE_VERSION_MINOR "${PROJECT_VERSION_MINOR}")
set(CPACK_PACKAGE_VERSION_PATCH "${PROJECT_VERSION_PATCH}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Configure and watch Duroz740 radar sensors")
set(CPACK_SYSTEM_NAME windows-x86_64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
# The installer: Program Files (the 64-bit one), for every user of the machine.
set(CPACK_PACKAGE_INSTALL_DIRECTORY ZeltoSoft)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY ZeltoSoft)
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
# A 64-bit installer and uninstaller, like the programs (NSIS makes 32-bit ones by default).
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
set(CPACK_NSIS_PACKAGE_NAME ZeltoSoft)
set(CPACK_NSIS_DISPLAY_NAME "ZeltoSoft ${ZELTO_VERSION_STRING}")
set(CPACK_NSIS_INSTALLED_ICON_NAME zeltosoft.exe)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_MODIFY_PATH OFF)
set(CPACK_NSIS_URL_INFO_ABOUT "https://zeltosoft.org/")
# Start-menu entries: executable name (without .exe), then the entry's text.
set(CPACK_PACKAGE_EXECUTABLES zeltosoft "ZeltoSoft" zeltosoft-demo "ZeltoSoft demo (simulated sensor)")
set(CPACK_NSIS_MENU_LINKS README-Windows.txt "ZeltoSoft README")
# Which component goes into which package, decided when cpack runs.
set(ZELTO_CPACK_ZIP_NAME zeltoctl-${ZELTO_VERSION_STRING}-windows-x86_64)
set(ZELTO_CPACK_NSIS_NAME ZeltoSoft-${ZELTO_VERSION_STRING}-win64-setup)
configure_file(${CMAKE_CURRENT_LIST_DIR}/windows_cpack_options.cmake.in
               ${CMAKE_BINARY_DIR}/windows_cpack_options.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/windows_cpack_options.cmake)
include(CPack)
