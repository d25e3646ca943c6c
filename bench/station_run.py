#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
# The production station on the simulated bench with link timing (9600 baud, a 15 ms sensor,
# the adapter's latency timer), in real time: units per hour at 1, 4, 16 and 32 slots against
# the link-bound limit, and the CPU each slot costs.
#
#   bench/station_run.py ZELTOCTL [SECONDS_PER_RUN]
#
# Each slot has a handling robot: a sensor is pulled 50 ms after it was read back and the next
# one is in 100 ms later; the station looks at each socket every 10 ms. A unit's link time W
# is the median time from a sensor taken to its outcome on one slot (read, write, read back:
# the link alone is busy then, nothing competes); the link-bound limit at N slots is
# N x 3600 s / W, and the cycle limit N x 3600 s / (W + handling) says what the robot's
# handling leaves. Figures: units per hour from the station's own summary, the median work
# time per unit at N slots against W, CPU (user + system) per slot per minute; then 32 slots
# again with every record also going to an SQLite record store.
import json
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile


def run(zeltoctl, slots, seconds, records="none"):
    count = max(slots * 4, int(slots * seconds / 0.4))
    args = [zeltoctl, "--sim", "--records", records, "--sim-link-timing", "--sim-adapters", str(slots),
            "--sim-pull-after-ms", "50", "--sim-gap-ms", "100", "--sim-hold-ms", "3600000",
            "station", "--look-ms", "10", "--count", str(count), profile]
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    out = subprocess.run(args, capture_output=True, text=True, check=False).stdout
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    events = [json.loads(line) for line in out.splitlines() if line.startswith("{")]
    summary = events[-1]
    started = {}
    work = []
    for e in events:
        if e.get("event") == "sensor":
            started[e["slot"]] = e["t_ms"]
        elif e.get("event") == "outcome" and e["slot"] in started:
            work.append(e["t_ms"] - started.pop(e["slot"]))
    elapsed_s = summary["t_ms"] / 1000.0
    return {
        "units": summary["units"],
        "per_hour": summary["units_per_hour"],
        "passed": sum(s["pass"] for s in summary["slots"]),
        "work_ms": statistics.median(work),
        "cpu_per_slot_per_min": cpu / slots / (elapsed_s / 60.0) if elapsed_s > 0 else 0.0,
        "elapsed_s": elapsed_s,
    }


zeltoctl = sys.argv[1]
seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 20.0
profile = "/tmp/zelto-station-bench-profile.json"
with open(profile, "w") as f:
    f.write('{"zeltoctl_profile": 1, "parameters": {"sensitivity": 7, "speed": 2}}\n')

results = {n: run(zeltoctl, n, seconds) for n in (1, 4, 16, 32)}
w = results[1]["work_ms"]
handling = 50 + 100
print(f"station, simulated bench with link timing; W = {w:.0f} ms of link per unit (1 slot)")
print(f"{'slots':>5} {'units':>6} {'PASS':>5} {'units/h':>8} {'link limit':>10} {'of limit':>8} "
      f"{'cycle limit':>11} {'of cycle':>8} {'work ms':>7} {'CPU s/slot/min':>14}")
for n, r in results.items():
    link_limit = n * 3600000.0 / w
    cycle_limit = n * 3600000.0 / (w + handling)
    print(f"{n:>5} {r['units']:>6} {r['passed']:>5} {r['per_hour']:>8} {link_limit:>10.0f} "
          f"{100.0 * r['per_hour'] / link_limit:>7.1f}% {cycle_limit:>11.0f} "
          f"{100.0 * r['per_hour'] / cycle_limit:>7.1f}% {r['work_ms']:>7.0f} "
          f"{r['cpu_per_slot_per_min']:>14.3f}")

# The same 32 slots with every record also committed to an SQLite record store (its own
# transaction, on the disk before the slot takes its next unit), against none.
folder = tempfile.mkdtemp(prefix="zelto-station-bench-")
try:
    with_store = run(zeltoctl, 32, seconds, os.path.join(folder, "records.sqlite"))
finally:
    shutil.rmtree(folder)
without = results[32]
print(f"32 slots without a record store: {without['per_hour']} units/h, work {without['work_ms']:.0f} ms, "
      f"CPU {without['cpu_per_slot_per_min']:.3f} s/slot/min")
print(f"32 slots with the SQLite record store: {with_store['per_hour']} units/h "
      f"({100.0 * with_store['per_hour'] / without['per_hour']:.1f}%), work {with_store['work_ms']:.0f} ms, "
      f"CPU {with_store['cpu_per_slot_per_min']:.3f} s/slot/min")
