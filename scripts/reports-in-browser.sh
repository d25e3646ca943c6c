#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The walk test report and the commissioning page as a customer gets them: zeltoctl writes
# both on the simulated bench, Debian's chromium opens each headless, takes a screenshot and
# prints it to PDF, and the checks look at what the browser made of them: the page rendered,
# the chart is on it (its detection shading and level line in the screenshot), and the PDF
# is A4 with the expected number of pages.
#
#   scripts/reports-in-browser.sh [BUILD_DIR] [OUT_DIR]   (defaults: build-test, a temp folder)
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$repo/build-test}" && pwd)"
out="${2:-$(mktemp -d)}"
mkdir -p "$out"
zeltoctl="$build/bin/zeltoctl"
strings="$repo/data/StringTable.txt"
for tool in chromium pdfinfo convert; do
  command -v "$tool" >/dev/null || { echo "reports-in-browser: $tool is missing" >&2; exit 1; }
done
fail() { echo "reports-in-browser: $*" >&2; exit 1; }

cd "$out"
rm -f log.csv
# A sensor provisioned, then walked past every 4 s, silent for 2.5 s in the middle.
"$zeltoctl" --sim --log log.csv set sensitivity=7 relay=2 >/dev/null
"$zeltoctl" --strings "$strings" --sim --sim-walk-every-ms 4000 --sim-silent-after-ms 7000 \
  --sim-silent-for-ms 2500 --log log.csv --note "site=Corridor, ceiling 2.9 m" \
  walk --seconds 14 --report walk.html --csv walk.csv >walk.out
"$zeltoctl" --strings "$strings" --lang it --sim --sim-walk-every-ms 3000 --log log.csv \
  walk --seconds 8 --report walk-it.html >/dev/null
"$zeltoctl" --strings "$strings" report log.csv --html batch.html >/dev/null
grep -q "without reports" walk.out || fail "no summary line: $(cat walk.out)"
[[ "$(head -n1 walk.csv)" == "time_s,level,detected" ]] || fail "walk.csv has other columns"
for page in walk.html walk-it.html batch.html; do
  ! grep -qiE "<script|src=|<link|@import" "$page" || fail "$page fetches or runs something"
done

browse() {
  local profile
  profile="$(mktemp -d)"
  timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$profile" "$@" >/dev/null 2>&1
  rm -rf "$profile"
}
# Colours present in a screenshot, as ImageMagick's hex names.
colours() { convert "$1" -unique-colors txt:- | grep -o '#[0-9A-F]\{6\}'; }
# Pixels of a screenshot within 15 % of a colour (lines are smoothed at their edges).
near() {
  convert "$1" -fuzz 15% -fill '#FF00FF' -opaque "$2" -fuzz 0 -fill black +opaque '#FF00FF' \
    -fill white -opaque '#FF00FF' -format '%[fx:int(mean*w*h)]' info:
}

# page: pages expected in the PDF
declare -A pages=([walk]=1 [walk-it]=1 [batch]=1)
for name in walk walk-it batch; do
  browse --window-size=900,1300 --screenshot="$out/$name.png" "file://$out/$name.html"
  browse --no-pdf-header-footer --print-to-pdf="$out/$name.pdf" "file://$out/$name.html"
  [[ -s $name.png && -s $name.pdf ]] || fail "$name: chromium wrote no screenshot or PDF"
  [[ "$(colours "$name.png" | wc -l)" -gt 20 ]] || fail "$name.png is blank"
  info="$(pdfinfo "$name.pdf")"
  grep -q "^Pages: *${pages[$name]}$" <<<"$info" || fail "$name.pdf: $(grep Pages <<<"$info")"
  grep -q "(A4)" <<<"$info" || fail "$name.pdf is not A4"
done
for name in walk walk-it; do
  # The chart: detection shading and the level line were drawn.
  [[ "$(near "$name.png" '#FFC8C8')" -gt 2000 ]] || fail "$name.png: no detection span on the chart"
  [[ "$(near "$name.png" '#285AC8')" -gt 300 ]] || fail "$name.png: no level line on the chart"
done
pdftotext walk-it.pdf - | grep -q "Rapporto della prova di camminata" || fail "walk-it.pdf is not in Italian"
pdftotext batch.pdf - | grep -q "ZS74000001" || fail "batch.pdf lacks the sensor"
echo "reports-in-browser: walk, walk-it and batch rendered, printed and checked in $out"
