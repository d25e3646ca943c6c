#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""zeltoctl on the simulated bench, timed from outside the process.

  zeltoctl_timing.py ZELTOCTL OUT.json

- get: wall time from launching `zeltoctl --sim get` to its exit, 20 runs.
- apply and verify, per sensor: launch to exit of `apply FILE` on a sensor that needs the
  write, and of `verify FILE` on one that holds the profile (no write), 20 runs each.
- apply --each: five sensors plugged one after the other every SWAP ms; for each, the time
  from its plugging (launch + k * SWAP, the bench's own schedule) to its "verified" line.
"""
import json
import statistics
import subprocess
import sys
import tempfile
import time
import os
import signal

zeltoctl, out_path = sys.argv[1], sys.argv[2]
result = {}

get_ms = []
for _ in range(20):
    t0 = time.perf_counter()
    done = subprocess.run([zeltoctl, "--sim", "get"], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL)
    get_ms.append((time.perf_counter() - t0) * 1000)
    if done.returncode != 0:
        get_ms = []
        break
result["get_ms"] = get_ms

SWAP = 1000
SENSORS = 5
with tempfile.TemporaryDirectory() as folder:
    profile = os.path.join(folder, "p.json")
    with open(profile, "w") as f:
        f.write('{"zeltoctl_profile": 1, "parameters": {"sensitivity": 8, "relay": 2.5}}')
    # The sensor's stored values: the bench's defaults (apply writes), or the profile's
    # (verify finds them).
    for name, args, expect in (("apply_ms", ["apply", profile], 0),
                               ("verify_ms", ["--sim-params", "8,5,1,0,0,1", "verify", profile], 0)):
        times = []
        for _ in range(20):
            t0 = time.perf_counter()
            done = subprocess.run([zeltoctl, "--sim", *args], stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
            times.append((time.perf_counter() - t0) * 1000)
            if done.returncode != expect:
                times = []
                break
        result[name] = times
    serials = []
    for k in range(SENSORS):
        serials += ["--sim-serial", "ZS7400%04d" % (k + 1)]
    t0 = time.perf_counter()
    p = subprocess.Popen([zeltoctl, "--sim", *serials, "--sim-swap-ms", str(SWAP), "apply",
                          profile, "--each"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                         text=True)
    latencies = []
    k = 0
    for line in p.stdout:
        if ": verified" in line:
            latencies.append((time.perf_counter() - t0) * 1000 - k * SWAP)
            k += 1
            if k == SENSORS:
                break
    p.send_signal(signal.SIGINT)
    p.wait(timeout=10)
    result["each_ms"] = latencies
    result["each_exit"] = p.returncode

with open(out_path, "w") as f:
    json.dump(result, f)
