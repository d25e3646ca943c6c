#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian 12 packages that are missing.
#
#   scripts/install-deps.sh          what the build, the tests, CI and the packaging need
#   scripts/install-deps.sh demo     only what building and running the demo needs (run.sh)
set -euo pipefail
# Building the programs and running the demo (under Xvfb when there is no display).
demo_packages=(
  cmake ninja-build g++ pkg-config python3
  qt6-base-dev libgl-dev libftdi1-dev libcli11-dev nlohmann-json3-dev
  libsqlite3-dev
  xvfb xauth fonts-dejavu-core
)
# The tests, the sanitizer and fuzz builds, the benchmarks, the manual pages, the package and
# its checks, the Windows cross build and Wine to run it.
test_packages=(
  clang libclang-rt-14-dev
  umockdev libumockdev-dev gir1.2-umockdev-1.0
  libgtest-dev libgmock-dev libbenchmark-dev
  xdotool imagemagick valgrind time
  help2man dpkg-dev desktop-file-utils appstream lintian bash-completion
  chromium poppler-utils
  g++-mingw-w64-x86-64-posix googletest wine wine64 unzip nsis
)
packages=("${demo_packages[@]}")
[[ "${1:-}" == demo ]] || packages+=("${test_packages[@]}")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
