#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Windows without Windows: the cross build (mingw-w64, the windows-mingw preset, with Qt for
# Windows from scripts/windows-qt.sh), every test under Wine (the Qt Test ones among them),
# zeltoctl.exe and the windowed programs under Wine against the stand-in ftd2xx.dll and on an
# X display of its own (Xvfb), the demo's walk checked, the ZIP of zeltoctl, and the installer
# run, used and uninstalled under Wine. Each step's time is printed; Wine's first start
# (creating its prefix) is counted.
#
#   scripts/windows-test.sh [LINUX_ZELTOCTL]   (default: build-test/bin/zeltoctl, from test.sh)
# The walk's screenshots stay in build-windows/shots (radar and history windows as
# wine-radar.png and wine-history.png).
set -euo pipefail
cd "$(dirname "$0")/.."
linux_zeltoctl="${1:-build-test/bin/zeltoctl}"
bash scripts/install-deps.sh

ms() { echo $(($(date +%s%N) / 1000000)); }
started=$(ms)
lap() { local d=$(($(ms) - $2)); printf '   (%s: %d.%d s)\n' "$1" $((d / 1000)) $((d % 1000 / 100)); }

echo "== Qt for Windows =="
t=$(ms)
qt="$(bash scripts/windows-qt.sh)"
echo "$qt"
lap "Qt for Windows" "$t"

# A prefix of its own, new for every run, as a fresh machine has it.
export WINEPREFIX="$PWD/build-windows-wine"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$WINEPREFIX"
echo "== Wine: creating the prefix =="
t=$(ms)
# An X display of its own for the windowed programs, there before Wine starts its desktop.
# Xvfb picks a free display number and writes it to the descriptor given.
display_file="$(mktemp)"
Xvfb -displayfd 9 -screen 0 1280x1024x24 -nolisten tcp 9>"$display_file" 2>/dev/null &
xvfb=$!
for _ in $(seq 100); do [ -s "$display_file" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$display_file")"
rm -f "$display_file"
# One server for the whole step, instead of one per program start; ended on the way out. It
# is started first (on the empty prefix folder): a server that wineboot left behind would
# not take the order to stay.
mkdir -p "$WINEPREFIX"
wineserver --persistent
trap 'wineserver --kill || true; kill $xvfb 2>/dev/null || true' EXIT
# Into a file, not a pipe: Wine's services keep the descriptors they inherit for as long as
# the server lives.
scripts/wine-run wineboot --init 2>"$WINEPREFIX/wineboot.log"
lap "Wine's first start" "$t"

echo "== Windows cross build (mingw-w64, Qt for Windows, warnings as errors) =="
t=$(ms)
cmake --preset windows-mingw -DZELTO_QT=ON -DCMAKE_PREFIX_PATH="$qt" >/dev/null
cmake --build --preset windows-mingw
lap "cross build" "$t"

echo "== every test under Wine (core, CLI, drivers, the windows with Qt Test) =="
t=$(ms)
ctest --preset windows-mingw
lap "tests under Wine" "$t"

echo "== zeltoctl.exe under Wine against the stand-in ftd2xx.dll =="
t=$(ms)
bash tests/windows/zeltoctl_under_wine.sh build-windows "$linux_zeltoctl"
lap "zeltoctl.exe" "$t"

echo "== the windowed programs under Wine: the demo's walk, zeltosoft.exe on the stand-in =="
t=$(ms)
bash tests/windows/gui_under_wine.sh build-windows build-windows/shots
lap "windowed programs" "$t"

echo "== cmake --install into a folder: the demo runs there with what was installed =="
t=$(ms)
installed="$PWD/build-windows/installed"
rm -rf "$installed"
cmake --install build-windows --prefix "$installed" >/dev/null
(
  . tests/windows/wine_checks.sh
  version="$("$wine_run" "$installed/zeltosoft-demo.exe" --version | tr -d '\r')"
  check "installed zeltosoft-demo.exe --version: $version" eval '[[ "$version" == zeltosoft-demo\ * ]]'
  walk "$installed/zeltosoft-demo.exe" "$work/walk"
  check "installed zeltosoft-demo.exe --walk" walk_ok "$work/walk"
  [ "$failures" = 0 ]
)
lap "installed folder" "$t"

echo "== the ZIP for Windows =="
rm -f build-windows/zeltoctl-*-windows-x86_64.zip
(cd build-windows && cpack -G ZIP >/dev/null)
zip_file=$(ls build-windows/zeltoctl-*-windows-x86_64.zip)
listing=$(unzip -Z1 "$zip_file")
echo "$listing"
for f in zeltoctl.exe StringTable.txt README-Windows.txt LICENSE.txt licenses/CLI11.txt \
         licenses/nlohmann-json.txt licenses/gcc-runtime.txt licenses/mingw-w64-runtime.txt; do
  grep -q "/$f\$" <<<"$listing" || { echo "the ZIP lacks $f"; exit 1; }
done
if grep -qi 'ftd2xx' <<<"$listing"; then echo "the ZIP must not carry a stand-in ftd2xx.dll"; exit 1; fi
if grep -qi 'qt6\|\.dll$' <<<"$listing"; then echo "the ZIP of zeltoctl must carry no DLL"; exit 1; fi

echo "== the installer: built, run silently under Wine, used, uninstalled =="
t=$(ms)
rm -f build-windows/ZeltoSoft-*-win64-setup.exe
(cd build-windows && cpack -G NSIS >/dev/null)
setup=$(ls build-windows/ZeltoSoft-*-win64-setup.exe)
echo "$setup ($(($(stat -c %s "$setup") / 1024)) KiB)"
bash tests/windows/installer_under_wine.sh "$setup"
lap "installer" "$t"

echo "Windows step: $((($(ms) - started) / 1000)) s in all (the budget is 900 s)"
