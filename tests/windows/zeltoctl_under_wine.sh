#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# zeltoctl.exe under Wine, through the vendor backend, against the stand-in ftd2xx.dll with a
# programmer and a Duroz740 behind it: the commands an installer uses, their exit codes, the
# wire after Ctrl-C, and the commissioning record, which must come out as the Linux build
# writes it.
#   tests/windows/zeltoctl_under_wine.sh BUILD_WINDOWS LINUX_ZELTOCTL
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "$1" && pwd)"
linux_zeltoctl="$(realpath "$2")"
wine_run="$here/../../scripts/wine-run"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"

# The stand-in is found as an installed driver would be: on the DLL search path.
WINEPATH="$("$wine_run" winepath -w "$build/standin-ftd2xx-bench")"
export WINEPATH
ZELTO_STANDIN_TRACE="$("$wine_run" winepath -w "$work/wire.txt")"
export ZELTO_STANDIN_TRACE
failures=0
check() {  # check NAME CONDITION...: report, and count a failure
  local name="$1"; shift
  if "$@"; then echo "ok   $name"; else echo "FAIL $name"; failures=$((failures + 1)); fi
}
# zeltoctl.exe with the bench settings in $bench; exit code in $code, outputs in out/err.
run() {
  code=0
  ZELTO_STANDIN_BENCH="$bench" "$wine_run" "$build/bin/zeltoctl.exe" "$@" >out 2>err || code=$?
  tr -d '\r' <out >out.lf
}
has() { grep -qF -- "$1" "$2"; }
# A record's time stamp, the one field that must differ between two runs, as "<time>".
mask_time() {
  local stamp='[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}(\.[0-9]{3})?Z'
  sed -E "s/^$stamp,/<time>,/; s/\"time\":\"$stamp\"/\"time\":\"<time>\"/"
}

bench="params=7,3,2,1,1,2"
run list
check "list: the stand-in's programmer through the vendor library" \
  eval '[ $code = 0 ] && has "driver: ftd2xx" out.lf && has "1 adapter(s), 1 \"ZeltoProg\"" out.lf'

run get --json
"$linux_zeltoctl" --sim --sim-params 7,3,2,1,1,2 get --json >linux-get.json
check "get --json: exit 0, the same object as on Linux" eval '[ $code = 0 ] && cmp -s out.lf linux-get.json'

run set sensitivity=4 relay=2.5
check "set: written and verified" eval '[ $code = 0 ] && has "verified (sensitivity=4 relay=2.5" out.lf'

bench="refuse=sensitivity=9"
run set sensitivity=9
check "set: a refused value exits 6" eval '[ $code = 6 ] && has "not taken" err'

bench="silent-after-ms=1"
run get
check "get: a silent sensor exits 5" eval '[ $code = 5 ]'

bench="params=7,3,2,1,1,2"
run doctor
check "doctor: which library, its version, the listing" eval '[ $code = 0 ] &&
  has "loads from Z:" out.lf && has "standin-ftd2xx-bench\\ftd2xx.dll" out.lf &&
  has "version: 0.09.17" out.lf && has "<- programmer" out.lf'

# The commissioning record, with names outside ASCII for the profile and the log, CSV and
# JSON lines. Only the time stamp may differ from Linux's; it is set aside before comparing.
printf '{"zeltoctl_profile": 1, "device": "Duroz740", "parameters": {"sensitivity": 3, "relay": 4.5}}\n' \
  >"prófilo €.json"
for format in csv jsonl; do
  run --log "récord ü.$format" --log-format $format apply "prófilo €.json"
  windows_code=$code
  "$linux_zeltoctl" --sim --sim-params 7,3,2,1,1,2 --log "linux.$format" --log-format $format \
    apply "prófilo €.json" >/dev/null
  mask_time <"récord ü.$format" >windows.masked
  mask_time <"linux.$format" >linux.masked
  check "apply --log ($format): verified, the record byte for byte as on Linux" \
    eval '[ $windows_code = 0 ] && grep -q "<time>" windows.masked && cmp windows.masked linux.masked'
done

# Ctrl-C: Wine turns SIGINT into the console's Ctrl-C event for the program.
: >wire.txt
ZELTO_STANDIN_BENCH="$bench" "$wine_run" "$build/bin/zeltoctl.exe" monitor >out 2>err &
pid=$!
for _ in $(seq 100); do grep -q '^14 02$' wire.txt && break; sleep 0.1; done
sleep 0.3
kill -INT "$pid"
code=0
wait "$pid" || code=$?
check "Ctrl-C during monitor: exit 130, report mode 0 last on the wire" \
  eval '[ $code = 130 ] && grep -q "^14 02$" wire.txt && [ "$(tail -n 1 wire.txt)" = "14 00" ]'

echo "$failures failed"
[ "$failures" = 0 ]
