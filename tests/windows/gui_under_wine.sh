#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The windowed programs of the cross build under Wine, on the X display in DISPLAY (Xvfb in
# CI), from the build tree:
#  - zeltosoft-demo.exe --walk: the six screenshots are real pictures, the radar window's
#    shows the identified sensor's serial, the language file is kept beside the program;
#  - zeltosoft.exe through the vendor backend and the stand-in ftd2xx.dll (a programmer with a
#    Duroz740): it finds the programmer, opens the radar window and streams; a second start
#    while it runs gets no programmer and leaves the first one streaming.
#   tests/windows/gui_under_wine.sh BUILD_WINDOWS SHOTS_FOLDER
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "$1" && pwd)"
mkdir -p "$2"
shots="$(cd "$2" && pwd)"
. "$here/wine_checks.sh"

echo "-- zeltosoft-demo.exe --walk from the build tree"
rm -f "$build/bin/ZeltoSoft.prm" "$appdata/zeltosoft/ZeltoSoft.prm"
walk "$build/bin/zeltosoft-demo.exe" "$work/walk-build"
check "walk: six screenshots, the radar window showing serial $demo_serial" walk_ok "$work/walk-build"
check "walk: the language kept beside a program run from its folder, not in %APPDATA%" \
  eval '[ -f "$build/bin/ZeltoSoft.prm" ] && [ ! -e "$appdata/zeltosoft/ZeltoSoft.prm" ]'
cp "$work/walk-build/3-radar.png" "$shots/wine-radar.png"
cp "$work/walk-build/6-history.png" "$shots/wine-history.png"

echo "-- zeltosoft.exe on the stand-in ftd2xx.dll"
WINEPATH="$("$wine_run" winepath -w "$build/standin-ftd2xx-bench")"
export WINEPATH ZELTO_STANDIN_BENCH="serial=ZS7412345"
start_program() {  # start_program TRACE: zeltosoft.exe in the background, its pid in $pid
  : >"$1"
  ZELTO_STANDIN_TRACE="$("$wine_run" winepath -w "$1")" \
    "$wine_run" "$build/bin/zeltosoft.exe" >/dev/null 2>&1 &
  pid=$!
}
# Report mode 2 asked for: the radar window is open and streaming.
streaming() { grep -q '^14 02$' "$1"; }
start_program "$work/first.txt"
first=$pid
for _ in $(seq 300); do streaming "$work/first.txt" && break; sleep 0.1; done
check "zeltosoft.exe: programmer found through ftd2xx.dll, radar window open and streaming" \
  streaming "$work/first.txt"
start_program "$work/second.txt"
second=$pid
before=$(wc -l <"$work/first.txt")
sleep 6
check "a second start while one runs: the second gets no programmer, the first streams on" \
  eval '! streaming "$work/second.txt" && kill -0 $second && kill -0 $first &&
        [ "$(wc -l <"$work/first.txt")" -gt "$before" ]'
# The first one ends: the second finds the programmer free at its next look.
kill "$first" 2>/dev/null || true
wait "$first" 2>/dev/null || true
for _ in $(seq 300); do streaming "$work/second.txt" && break; sleep 0.1; done
check "the first one ended: the second takes the programmer and streams" streaming "$work/second.txt"
kill "$second" 2>/dev/null || true
wait "$second" 2>/dev/null || true

echo "$failures failed"
[ "$failures" = 0 ]
