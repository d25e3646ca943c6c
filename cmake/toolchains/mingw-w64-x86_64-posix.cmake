# SPDX-License-Identifier: MIT
# Cross build for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64-posix): the
# "posix" thread model, which std::thread and std::mutex need. Programs and tests run here
# under Wine, so CTest and the test discovery start them through it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_zelto_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_zelto_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_zelto_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_zelto_mingw}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_zelto_mingw})
# A Qt for Windows (or any other library built for it) named in CMAKE_PREFIX_PATH is made a
# find root as well: with the package mode ONLY below, a prefix outside the roots would never
# be searched, and Qt not found.
list(APPEND CMAKE_FIND_ROOT_PATH ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The compiler's own runtime (libstdc++, libgcc, winpthread) linked in, so that an .exe or
# .dll needs nothing beside it but what Windows itself has.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Qt's cross build runs the build machine's moc, rcc and uic (Debian's qt6-base-dev-tools);
# Qt's packages look for them under these.
if(NOT DEFINED QT_HOST_PATH)
  set(QT_HOST_PATH /usr CACHE PATH "Where the build machine's Qt tools are")
endif()
if(NOT DEFINED QT_HOST_PATH_CMAKE_DIR)
  set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH
      "The build machine's Qt CMake packages")
endif()

find_program(ZELTO_WINE NAMES wine wine64)
if(ZELTO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../../scripts/wine-run)
  cmake_path(NORMAL_PATH CMAKE_CROSSCOMPILING_EMULATOR)
endif()
