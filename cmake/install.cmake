# SPDX-License-Identifier: MIT
# Installing a program with its manual page, in one call:
#
#   zelto_install_program(<target> [PRIVATE_DIR <dir>] [MAN_NAME "<one-line description>"]
#                         [MAN_INCLUDE <help2man include file>])
#
# Without PRIVATE_DIR the program goes to bin/. With it, the program goes to <dir> (relative
# to the prefix, for programs that need files beside them) and a link in bin/ points to it.
# With MAN_NAME, help2man writes section 1 of the manual from the program's --help and
# --version when the build runs, with the sections of MAN_INCLUDE (FILES, ENVIRONMENT, ...);
# the page is installed gzipped. Manual pages are left out of
# sanitizer builds (the programs would run instrumented at build time) and when help2man is
# missing.
# Architecture-independent data (the string table) goes here, under the prefix.
set(ZELTO_DATA_DIR ${CMAKE_INSTALL_DATADIR}/zeltosoft)

find_program(ZELTO_HELP2MAN help2man)
find_program(ZELTO_GZIP gzip)
if(ZELTO_SANITIZE OR CMAKE_CROSSCOMPILING OR NOT ZELTO_HELP2MAN OR NOT ZELTO_GZIP)
  set(ZELTO_MANPAGES OFF)
  if(NOT ZELTO_SANITIZE AND NOT ZELTO_HELP2MAN)
    message(STATUS "help2man not found: no manual pages")
  endif()
else()
  set(ZELTO_MANPAGES ON)
endif()

function(zelto_install_program target)
  cmake_parse_arguments(A "" "PRIVATE_DIR;MAN_NAME;MAN_INCLUDE" "" ${ARGN})
  if(A_PRIVATE_DIR)
    install(TARGETS ${target} RUNTIME DESTINATION ${A_PRIVATE_DIR})
    install(CODE "
      set(bin \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
      file(MAKE_DIRECTORY \"\${bin}\")
      file(RELATIVE_PATH target \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\"
           \"\${CMAKE_INSTALL_PREFIX}/${A_PRIVATE_DIR}/$<TARGET_FILE_NAME:${target}>\")
      file(CREATE_LINK \"\${target}\" \"\${bin}/$<TARGET_FILE_NAME:${target}>\" SYMBOLIC)
      # Listed in install_manifest.txt, so an uninstall from it removes the link as well.
      list(APPEND CMAKE_INSTALL_MANIFEST_FILES
           \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:${target}>\")
      message(STATUS \"Installing: \${bin}/$<TARGET_FILE_NAME:${target}>\")")
  else()
    install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()

  if(A_MAN_NAME AND ZELTO_MANPAGES)
    set(page ${CMAKE_BINARY_DIR}/man/${target}.1)
    set(include "")
    if(A_MAN_INCLUDE)
      set(include "--include=${A_MAN_INCLUDE}")
    endif()
    add_custom_command(
      OUTPUT ${page}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND ${ZELTO_HELP2MAN} --no-info --no-discard-stderr --section=1
              "--name=${A_MAN_NAME}" ${include} --output=${page} $<TARGET_FILE:${target}>
      COMMAND ${ZELTO_GZIP} -9nf ${page}
      DEPENDS ${target} ${A_MAN_INCLUDE}
      COMMENT "Writing the manual page of ${target}"
      VERBATIM)
    add_custom_target(${target}_manpage ALL DEPENDS ${page}.gz)
    install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
endfunction()
