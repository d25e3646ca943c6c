# SPDX-License-Identifier: MIT
# Shared by the scripts that try the windowed programs under Wine (sourced).
wine_run="$(cd "$(dirname "${BASH_SOURCE[0]}")/../../scripts" && pwd)/wine-run"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
check() {  # check NAME CONDITION...: report, and count a failure
  local name="$1"; shift
  if "$@"; then echo "ok   $name"; else echo "FAIL $name"; failures=$((failures + 1)); fi
}
# The user's %APPDATA% in the Wine prefix, as a Linux path.
appdata="$("$wine_run" winepath -u "$("$wine_run" cmd /c echo %APPDATA% | tr -d '\r')")"
appdata="${appdata%/}"
# The simulated sensor of the demo's bench.
demo_serial=ZS74000001
# A picture, not a blank: a sensible size and more than a handful of colours.
picture() {
  local w h k
  read -r w h k < <(identify -format '%w %h %k\n' "$1" 2>/dev/null) || return 1
  [ "${w:-0}" -ge 150 ] && [ "${h:-0}" -ge 100 ] && [ "${k:-0}" -ge 16 ]
}
walk() {  # walk DEMO_EXE FOLDER: the demo's walk into FOLDER; its output in FOLDER.out
  local try code
  mkdir -p "$2"
  # Tried twice: now and then Wine ends a program at its start, before it runs at all.
  for try in 1 2; do
    code=0
    timeout 180 "$wine_run" "$1" --walk "$("$wine_run" winepath -w "$2")" >"$2.out" 2>"$2.err" ||
      code=$?
    [ "$code" = 0 ] && return 0
    echo "   (walk $try ended with $code: $(head -c 300 "$2.err"))"
  done
}
walk_ok() {  # walk_ok FOLDER: every stop shot, each a picture, the serial in the radar window
  local shot
  for shot in 1-about 2-main 3-radar 4-sensitivity-list 5-sensitivity-changed 6-history; do
    grep -q "$shot.png" "$1.out" || { echo "  $shot not printed"; return 1; }
    picture "$1/$shot.png" || { echo "  $shot.png is no picture"; return 1; }
  done
  grep -q "$demo_serial" "$1/3-radar.txt" || { echo "  no $demo_serial in the radar window"; return 1; }
  [ -s "$1/6-history.csv" ] && picture "$1/6-history-chart.png"
}
