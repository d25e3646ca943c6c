#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Qt 6.4.2 for 64-bit Windows (mingw-w64, posix threads) for the cross build: prints the
# prefix to give CMake as CMAKE_PREFIX_PATH, making it first when it is missing. Qt Core, Gui,
# Widgets and Test as DLLs; the windows, offscreen and minimal platform plugins; the Windows
# style. Debian packages no Qt for mingw-w64, so it is built from Debian's own qt6-base
# source (the 6.4.2 the Linux build uses) with Debian's mingw-w64 and Debian's host Qt tools.
#
#   scripts/windows-qt.sh            prefix in $ZELTO_CACHE (default ~/.cache/zeltosoft)
#
# Where it comes from, first found wins:
#   1. the prefix already in the cache;
#   2. a tarball of one built before (ZELTO_QT_WINDOWS_TARBALL, or
#      ../shared/qt6-windows/qt6-windows-6.4.2-mingw-posix.tar.xz beside the source tree),
#      unpacked into the cache (seconds);
#   3. built from source into the cache: as root (apt-get), about 45 minutes on two cores. The
#      source comes through apt-get source; without a deb-src entry one is added, in a file
#      of its own (/etc/apt/sources.list.d/zeltosoft-deb-src.sources), never in the system's
#      list. OpenGL is off (the windows platform plugin then needs a one-line guard) and so
#      are tablet events (the source lacks wintab.h).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
name=qt6-windows-6.4.2-mingw-posix
cache="${ZELTO_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/zeltosoft}"
prefix="$cache/$name"
ready() { [ -f "$prefix/lib/cmake/Qt6/Qt6Config.cmake" ] && [ -f "$prefix/bin/Qt6Widgets.dll" ]; }
if ready; then echo "$prefix"; exit 0; fi
mkdir -p "$cache"
# Never a half-made prefix in the cache: everything is made beside it, then moved in place.
staging="$(mktemp -d "$cache/.making.XXXXXX")"
trap 'rm -rf "$staging"' EXIT

tarball="${ZELTO_QT_WINDOWS_TARBALL:-$here/../shared/qt6-windows/$name.tar.xz}"
if [ -f "$tarball" ]; then
  echo "Qt for Windows: unpacking $tarball" >&2
  tar -C "$staging" -xJf "$tarball"
else
  echo "Qt for Windows: building it from Debian's qt6-base source (about 45 minutes on 2 cores)" >&2
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    g++-mingw-w64-x86-64-posix qt6-base-dev qt6-base-dev-tools cmake ninja-build dpkg-dev \
    xz-utils >&2
  if [ -z "$(apt-cache showsrc qt6-base 2>/dev/null)" ]; then
    . /etc/os-release
    printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
      "${VERSION_CODENAME:-bookworm}" | $SUDO tee /etc/apt/sources.list.d/zeltosoft-deb-src.sources >/dev/null
    $SUDO apt-get update -qq >&2
  fi
  src="$staging/src"
  mkdir -p "$src"
  # apt-get source takes an exact version, not a pattern: the 6.4.2 the archive offers.
  version="$(apt-cache showsrc qt6-base | awk '/^Version: 6\.4\.2/ {print $2; exit}')"
  [ -n "$version" ] || { echo "Qt for Windows: no qt6-base 6.4.2 source in apt's lists" >&2; exit 1; }
  (cd "$src" && apt-get source --download-only "qt6-base=$version" >&2 &&
     tar xJf qt6-base_6.4.2+dfsg.orig.tar.xz)
  qtbase="$src/qtbase-everywhere-src-6.4.2"
  # 6.4.2's windows platform plugin reads the dynamic-GL switch without asking whether
  # OpenGL is built at all; with OpenGL off that code cannot compile.
  sed -i 's/^#if QT_CONFIG(dynamicgl)$/#if QT_CONFIG(dynamicgl) \&\& QT_CONFIG(opengl)/' \
    "$qtbase/src/plugins/platforms/windows/qwindowswindow.cpp"
  # The project's toolchain without its -static: Qt's DLLs use the runtime DLLs, as every
  # mingw Qt does.
  cat >"$src/mingw.cmake" <<'T'
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
T
  cmake -S "$qtbase" -B "$src/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$src/mingw.cmake" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_INSTALL_PREFIX="$staging/$name" -DQT_QMAKE_TARGET_MKSPEC=win32-g++ \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON -DQT_BUILD_EXAMPLES=OFF \
    -DQT_BUILD_TESTS=OFF -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_opengl=OFF \
    -DFEATURE_dbus=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_printsupport=OFF \
    -DFEATURE_testlib=ON -DFEATURE_gui=ON -DFEATURE_widgets=ON -DFEATURE_system_zlib=OFF \
    -DFEATURE_system_pcre2=OFF -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF \
    -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF -DFEATURE_system_doubleconversion=OFF \
    -DFEATURE_tabletevent=OFF >&2
  cmake --build "$src/build" -j "${ZELTO_QT_JOBS:-2}" >&2
  cmake --install "$src/build" >&2
  rm -rf "$src"
fi
rm -rf "$prefix"
mv "$staging/$name" "$prefix"
ready || { echo "Qt for Windows: $prefix is incomplete" >&2; exit 1; }
echo "$prefix"
