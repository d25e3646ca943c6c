#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The built programs from the outside: what they answer on the command line without any
# display, that Qt's own options still reach Qt, what a start without an adapter prints, and
# that the demo's walk gives up at once when it cannot save its screenshots.
#
#   programs_test.sh ZELTOSOFT ZELTOSOFT_DEMO
set -uo pipefail
zeltosoft="$1"
demo="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# No display at all: answered before Qt would look for one (and abort).
for program in "$zeltosoft" "$demo"; do
  name="$(basename "$program")"
  out="$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 10 "$program" --help 2>&1)"
  rc=$?
  [[ $rc -eq 0 && "$out" == "Usage: $name "* ]] || fail "$name --help: rc $rc, $out"
  out="$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 10 "$program" --version 2>&1)"
  rc=$?
  [[ $rc -eq 0 && "$out" =~ ^$name\ [0-9]+\.[0-9]+\.[0-9]+ ]] || fail "$name --version: rc $rc, $out"
  env -u DISPLAY timeout 10 "$program" --no-such-option >"$work/out" 2>"$work/err"
  rc=$?
  [[ $rc -eq 2 && ! -s "$work/out" ]] || fail "$name --no-such-option: rc $rc"
  grep -q "^Usage: $name" "$work/err" || fail "$name --no-such-option: no usage line"
done

# Qt's standard options are taken by Qt: the program runs (until the timeout ends it).
# No adapter is attached here; a start like that prints nothing by default.
timeout 4 "$zeltosoft" -platform offscreen -style Fusion -reverse >"$work/out" 2>"$work/err"
rc=$?
[[ $rc -eq 124 ]] || fail "zeltosoft with Qt options ended by itself: rc $rc, $(cat "$work/err")"
# (The offscreen platform itself says it cannot raise windows; that line is Qt's.)
grep -v "This plugin does not support" "$work/err" >"$work/ours"
[[ ! -s "$work/ours" ]] || fail "zeltosoft printed on standard error: $(cat "$work/ours")"
# The chosen driver is an informational line, shown only when asked for.
QT_LOGGING_RULES="zelto.*.info=true" timeout 4 "$zeltosoft" -platform offscreen 2>"$work/err"
grep -q "^zelto.driver: using " "$work/err" || fail "no driver line with info enabled: $(cat "$work/err")"

# The zeltosoft executable ignores the start-up timing hook of benchmark builds.
ZELTO_EXIT_AFTER_SHOWN=1 timeout 4 "$zeltosoft" -platform offscreen >"$work/out" 2>&1
rc=$?
[[ $rc -eq 124 ]] || fail "zeltosoft obeyed ZELTO_EXIT_AFTER_SHOWN (rc $rc): $(cat "$work/out")"

# A walk that cannot create its folder ends with an error, before any window, not hanging.
touch "$work/file"
timeout 10 "$demo" -platform offscreen --walk "$work/file/shots" 2>"$work/err"
rc=$?
[[ $rc -ne 0 && $rc -ne 124 ]] || fail "demo --walk into an impossible folder: rc $rc"
grep -q "cannot create" "$work/err" || fail "demo --walk: no reason given: $(cat "$work/err")"

[[ $failures -eq 0 ]] && echo "all program checks passed"
exit $((failures > 0))
