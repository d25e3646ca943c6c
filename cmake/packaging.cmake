# SPDX-License-Identifier: MIT
# What a distribution expects beside the programs: the udev rule, the desktop entry with its
# icons and AppStream metadata, the licence, and a .deb built by CPack. Windows has its own.
if(WIN32)
  include(cmake/windows_package.cmake)
  return()
endif()

# The udev rule goes where udev reads packaged rules: pkg-config's udevdir for a /usr
# install, else <prefix>/lib/udev/rules.d (a user's own prefix; udev does not read it, the
# README says how to copy the rule). Debian's udev.pc names /lib/udev, which on a merged-/usr
# system is /usr/lib/udev: it is kept relative to the prefix so that CPack packs it.
set(ZELTO_UDEV_RULES_DIR lib/udev/rules.d)
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  find_package(PkgConfig QUIET)
  if(PkgConfig_FOUND)
    pkg_get_variable(_zelto_udevdir udev udevdir)
  endif()
  if(_zelto_udevdir MATCHES "^/usr/(.+)$" OR _zelto_udevdir MATCHES "^/(lib.*)$")
    set(ZELTO_UDEV_RULES_DIR "${CMAKE_MATCH_1}/rules.d")
  endif()
endif()
set(ZELTO_UDEV_RULES_DIR "${ZELTO_UDEV_RULES_DIR}" CACHE STRING
    "Where the adapter's udev rule is installed, relative to the prefix")
install(FILES data/60-zeltoprog.rules DESTINATION ${ZELTO_UDEV_RULES_DIR})
# The string table, shared by all three programs.
install(FILES data/StringTable.txt DESTINATION ${ZELTO_DATA_DIR})

# Completion of zeltoctl's commands and options, where bash-completion loads it on demand.
install(FILES data/zeltoctl.bash-completion DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME zeltoctl)

if(ZELTO_QT)
  # Named after the AppStream id; the demo has its own entry, for a user without hardware.
  install(FILES data/org.zeltosoft.ZeltoSoft.desktop data/org.zeltosoft.ZeltoSoft.Demo.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES data/org.zeltosoft.ZeltoSoft.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(DIRECTORY data/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
endif()
# Debian's place for the licence, in the machine-readable form the archive's tools read: the
# MIT text of LICENSE under a header, each line indented, empty lines as " .", then the two
# header-only libraries compiled into zeltoctl.
set(ZELTO_MAINTAINER "ZeltoSoft developers <developers@zeltosoft.org>")
set(ZELTO_HOMEPAGE "https://zeltosoft.org/")
file(READ "${PROJECT_SOURCE_DIR}/LICENSE" _zelto_license)
string(REGEX REPLACE "^MIT License\n\n[^\n]*\n\n" "" _zelto_license "${_zelto_license}")
string(REGEX REPLACE "\n+$" "" _zelto_license "${_zelto_license}")
string(REPLACE "\n\n" "\n.\n" _zelto_license "${_zelto_license}")
string(REPLACE "\n" "\n " _zelto_license "${_zelto_license}")
file(READ "${PROJECT_SOURCE_DIR}/data/copyright-third-party" _zelto_third_party)
file(WRITE "${CMAKE_BINARY_DIR}/copyright"
  "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
  "Upstream-Name: ZeltoSoft\n"
  "Upstream-Contact: ${ZELTO_MAINTAINER}\n"
  "Source: ${ZELTO_HOMEPAGE}\n"
  "\n"
  "Files: *\n"
  "Copyright: 2026 ZeltoSoft developers\n"
  "License: Expat\n"
  "\n"
  "${_zelto_third_party}"
  "\n"
  "License: Expat\n"
  " ${_zelto_license}\n")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/LICENSE"
             "${PROJECT_SOURCE_DIR}/data/copyright-third-party")
install(FILES "${CMAKE_BINARY_DIR}/copyright" DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zeltosoft)

# The Debian changelog every binary package carries: one entry for the version built. The
# version has no Debian revision, so this is a native package and the file is changelog.gz.
# SOURCE_DATE_EPOCH, when set, makes the date (and the package) reproducible.
string(TIMESTAMP _zelto_changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE "${CMAKE_BINARY_DIR}/changelog.Debian"
  "zeltosoft (${ZELTO_VERSION_STRING}) unstable; urgency=medium\n"
  "\n"
  "  * Built from the ZeltoSoft sources, version ${ZELTO_VERSION_STRING}.\n"
  "\n"
  " -- ${ZELTO_MAINTAINER}  ${_zelto_changelog_date}\n")
if(ZELTO_GZIP)
  add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/changelog.gz
    COMMAND ${ZELTO_GZIP} -9nc ${CMAKE_BINARY_DIR}/changelog.Debian > ${CMAKE_BINARY_DIR}/changelog.gz
    DEPENDS ${CMAKE_BINARY_DIR}/changelog.Debian)
  add_custom_target(zelto_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/changelog.gz)
  install(FILES ${CMAKE_BINARY_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zeltosoft)
endif()

# The .deb: cpack -G DEB in a build configured with -DCMAKE_INSTALL_PREFIX=/usr (the program
# only recognises its install folder when the package installs where the build was told).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zeltosoft)
set(CPACK_PACKAGE_VENDOR "ZeltoSoft developers")
set(CPACK_PACKAGE_CONTACT "${ZELTO_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ZELTO_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${ZELTO_HOMEPAGE}")
set(CPACK_PACKAGE_VERSION "${ZELTO_VERSION_STRING}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "configure and watch Duroz740 radar sensors through the ZeltoProg adapter")
# One string (a CMake list would join its parts with ";"), each line under 80 columns.
set(CPACK_PACKAGE_DESCRIPTION "\
ZeltoSoft finds the ZeltoProg USB programming adapter, identifies the Duroz740
radar sensor attached to it, reads and writes the sensor's parameters and shows
its live signal. zeltosoft-demo runs the same program on a simulated adapter
and sensor. zeltoctl is the command line for installers: provisioning many
sensors with one profile, verification, a commissioning log and walk tests.")
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the programs link, found by dpkg-shlibdeps (package dpkg-dev).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udev")
set(CPACK_STRIP_FILES ON)
# No maintainer scripts: udev notices the new rule file by itself, and the icon and desktop
# caches are refreshed by dpkg triggers. Nothing needs a running daemon at install time.
include(CPack)
