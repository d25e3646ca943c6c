# SPDX-License-Identifier: MIT
# Windows: a ZIP to unpack anywhere, everything in one folder, as the programs expect it:
# zeltoctl.exe with StringTable.txt beside it, the licence texts and a README for Windows.
# (cpack -G ZIP in a build configured with the windows-mingw preset.)
install(FILES data/StringTable.txt DESTINATION .)
install(FILES data/README-Windows.txt DESTINATION .)
install(FILES LICENSE DESTINATION . RENAME LICENSE.txt)
# zeltoctl.exe carries CLI11 and nlohmann-json (header-only) and the compiler's runtime
# (libstdc++ and libgcc under the GCC runtime library exception, the mingw-w64 CRT and
# winpthreads), linked in: their terms go along, from the Debian packages they came from.
foreach(_zelto_notice
    "libcli11-dev|CLI11"
    "nlohmann-json3-dev|nlohmann-json"
    "gcc-mingw-w64-x86-64-posix-runtime|gcc-runtime"
    "mingw-w64-x86-64-dev|mingw-w64-runtime")
  string(REPLACE "|" ";" _zelto_notice "${_zelto_notice}")
  list(GET _zelto_notice 0 _zelto_package)
  list(GET _zelto_notice 1 _zelto_name)
  set(_zelto_file /usr/share/doc/${_zelto_package}/copyright)
  if(EXISTS ${_zelto_file})
    install(FILES ${_zelto_file} DESTINATION licenses RENAME ${_zelto_name}.txt)
  else()
    message(WARNING "${_zelto_file} is missing: the ZIP would lack ${_zelto_name}'s licence")
  endif()
endforeach()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME ZeltoSoft)
set(CPACK_PACKAGE_VENDOR "ZeltoSoft developers")
set(CPACK_PACKAGE_VERSION "${ZELTO_VERSION_STRING}")
set(CPACK_SYSTEM_NAME windows-x86_64)
set(CPACK_PACKAGE_FILE_NAME zeltoctl-${ZELTO_VERSION_STRING}-windows-x86_64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
