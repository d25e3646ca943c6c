#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Windows without Windows: the cross build (mingw-w64, the windows-mingw preset), the core and
# CLI tests under Wine, zeltoctl.exe under Wine against the stand-in ftd2xx.dll, and the ZIP.
# Each step's time is printed; Wine's first start (creating its prefix) is counted.
#
#   scripts/windows-test.sh [LINUX_ZELTOCTL]   (default: build-test/bin/zeltoctl, from test.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
linux_zeltoctl="${1:-build-test/bin/zeltoctl}"
bash scripts/install-deps.sh

ms() { echo $(($(date +%s%N) / 1000000)); }
started=$(ms)
lap() { local d=$(($(ms) - $2)); printf '   (%s: %d.%d s)\n' "$1" $((d / 1000)) $((d % 1000 / 100)); }

# A prefix of its own, new for every run, as a fresh machine has it.
export WINEPREFIX="$PWD/build-windows-wine"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$WINEPREFIX"
echo "== Wine: creating the prefix =="
t=$(ms)
# One server for the whole step, instead of one per program start; ended on the way out. It
# is started first (on the empty prefix folder): a server that wineboot left behind would
# not take the order to stay.
mkdir -p "$WINEPREFIX"
wineserver --persistent
trap 'wineserver --kill || true' EXIT
# Into a file, not a pipe: Wine's services keep the descriptors they inherit for as long as
# the server lives.
scripts/wine-run wineboot --init 2>"$WINEPREFIX/wineboot.log"
lap "Wine's first start" "$t"

echo "== Windows cross build (mingw-w64, warnings as errors) =="
t=$(ms)
cmake --preset windows-mingw >/dev/null
cmake --build --preset windows-mingw
lap "cross build" "$t"

echo "== core and CLI tests under Wine =="
t=$(ms)
ctest --preset windows-mingw
lap "tests under Wine" "$t"

echo "== zeltoctl.exe under Wine against the stand-in ftd2xx.dll =="
t=$(ms)
bash tests/windows/zeltoctl_under_wine.sh build-windows "$linux_zeltoctl"
lap "zeltoctl.exe" "$t"

echo "== the ZIP for Windows =="
(cd build-windows && cpack -G ZIP >/dev/null)
zip_file=$(ls build-windows/zeltoctl-*-windows-x86_64.zip)
listing=$(unzip -Z1 "$zip_file")
echo "$listing"
for f in zeltoctl.exe StringTable.txt README-Windows.txt LICENSE.txt licenses/CLI11.txt \
         licenses/nlohmann-json.txt licenses/gcc-runtime.txt licenses/mingw-w64-runtime.txt; do
  grep -q "/$f\$" <<<"$listing" || { echo "the ZIP lacks $f"; exit 1; }
done
if grep -qi 'ftd2xx' <<<"$listing"; then echo "the ZIP must not carry a stand-in ftd2xx.dll"; exit 1; fi

echo "Windows step: $((($(ms) - started) / 1000)) s in all (the budget is 600 s)"
