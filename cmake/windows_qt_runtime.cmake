# SPDX-License-Identifier: MIT
# Windows with a mingw Qt: what windeployqt would put beside the windowed programs (Qt for
# mingw has none in Debian, so it is listed here). Qt's DLLs, the windows platform plugin and
# the Windows style, and the compiler's runtime DLLs that Qt's DLLs are linked against. Our
# own programs link that runtime statically (the toolchain's -static), so zeltoctl.exe needs
# nothing beside it; the windowed programs share no C++ runtime object with Qt (only Qt's own
# types, whose memory Qt's DLLs manage), so the two copies in one process never meet.
#
#   zelto_copy_qt_runtime(<target> <folder> [TESTING])
#       copies them into <folder> of the build tree when <target> is built, so the programs
#       and tests run there under Wine; TESTING adds Qt Test and the offscreen platform with
#       fonts for it: on Windows that platform reads fonts only from <folder>/lib/fonts (the
#       DejaVu fonts of the build machine, Debian's fonts-dejavu-core).
# The install step (component "gui") puts the same files beside the installed programs.
get_target_property(_zelto_qtcore_dll Qt6::Core IMPORTED_LOCATION_RELEASE)
if(NOT _zelto_qtcore_dll)
  get_target_property(_zelto_qtcore_dll Qt6::Core IMPORTED_LOCATION)
endif()
get_filename_component(_zelto_qt_bin "${_zelto_qtcore_dll}" DIRECTORY)
get_filename_component(ZELTO_QT_WINDOWS_PREFIX "${_zelto_qt_bin}/.." ABSOLUTE)
set(ZELTO_QT_DLLS ${_zelto_qt_bin}/Qt6Core.dll ${_zelto_qt_bin}/Qt6Gui.dll
    ${_zelto_qt_bin}/Qt6Widgets.dll)
set(ZELTO_QT_PLUGINS platforms/qwindows.dll styles/qwindowsvistastyle.dll)
set(ZELTO_MINGW_RUNTIME_DLLS)
if(MINGW)
  foreach(_zelto_dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${_zelto_dll}
                    OUTPUT_VARIABLE _zelto_path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${_zelto_path}" OR NOT EXISTS "${_zelto_path}")
      message(FATAL_ERROR "${CMAKE_CXX_COMPILER} does not know where ${_zelto_dll} is")
    endif()
    get_filename_component(_zelto_path "${_zelto_path}" REALPATH)
    list(APPEND ZELTO_MINGW_RUNTIME_DLLS "${_zelto_path}")
  endforeach()
endif()
foreach(_zelto_file ${ZELTO_QT_DLLS} ${ZELTO_MINGW_RUNTIME_DLLS})
  if(NOT EXISTS "${_zelto_file}")
    message(FATAL_ERROR "${_zelto_file} is missing from the Qt for Windows")
  endif()
endforeach()
# Included where Qt is found (gui/), used from apps/ and tests/ as well.
foreach(_zelto_var ZELTO_QT_WINDOWS_PREFIX ZELTO_QT_DLLS ZELTO_QT_PLUGINS ZELTO_MINGW_RUNTIME_DLLS)
  set(${_zelto_var} "${${_zelto_var}}" CACHE INTERNAL "")
endforeach()

function(zelto_copy_qt_runtime target folder)
  cmake_parse_arguments(A "TESTING" "" "" ${ARGN})
  set(dlls ${ZELTO_QT_DLLS} ${ZELTO_MINGW_RUNTIME_DLLS})
  set(plugins ${ZELTO_QT_PLUGINS})
  if(A_TESTING)
    list(APPEND dlls ${ZELTO_QT_WINDOWS_PREFIX}/bin/Qt6Test.dll)
    list(APPEND plugins platforms/qoffscreen.dll)
  endif()
  set(commands)
  foreach(dll ${dlls})
    list(APPEND commands COMMAND ${CMAKE_COMMAND} -E copy_if_different ${dll} ${folder}/)
  endforeach()
  foreach(plugin ${plugins})
    get_filename_component(sub ${plugin} DIRECTORY)
    list(APPEND commands
      COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}/${sub}
      COMMAND ${CMAKE_COMMAND} -E copy_if_different ${ZELTO_QT_WINDOWS_PREFIX}/plugins/${plugin}
              ${folder}/${sub}/)
  endforeach()
  if(A_TESTING)
    file(GLOB fonts /usr/share/fonts/truetype/dejavu/DejaVuSans*.ttf)
    if(NOT fonts)
      message(FATAL_ERROR "No DejaVu fonts for the offscreen tests (install fonts-dejavu-core)")
    endif()
    list(APPEND commands COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}/lib/fonts
                         COMMAND ${CMAKE_COMMAND} -E copy_if_different ${fonts} ${folder}/lib/fonts/)
  endif()
  add_custom_command(TARGET ${target} POST_BUILD ${commands} VERBATIM)
endfunction()

install(FILES ${ZELTO_QT_DLLS} ${ZELTO_MINGW_RUNTIME_DLLS} DESTINATION . COMPONENT gui)
foreach(_zelto_plugin ${ZELTO_QT_PLUGINS})
  get_filename_component(_zelto_sub ${_zelto_plugin} DIRECTORY)
  install(FILES ${ZELTO_QT_WINDOWS_PREFIX}/plugins/${_zelto_plugin} DESTINATION ${_zelto_sub}
          COMPONENT gui)
endforeach()
