#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""zeltoctl on the simulated bench, timed from outside the process.

  zeltoctl_timing.py ZELTOCTL OUT.json [WINE_RUN ZELTOCTL_EXE STANDIN_FOLDER]

- get: wall time from launching `zeltoctl --sim get` to its exit, 20 runs.
- with the Windows build: `zeltoctl.exe get` under Wine through the vendor backend against
  the stand-in ftd2xx.dll (the same simulated bench behind it), and Wine's own start-up:
  `zeltoctl.exe --version`, which starts the same program and does nothing else; 20 runs each,
  with one Wine server kept running, as in a working session.
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


def timed(command, env=None, runs=20):
    """Milliseconds from launch to exit of each run; empty when a run fails."""
    times = []
    for _ in range(runs):
        t0 = time.perf_counter()
        done = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              env=env)
        times.append((time.perf_counter() - t0) * 1000)
        if done.returncode != 0:
            return []
    return times


result["get_ms"] = timed([zeltoctl, "--sim", "get"])

if len(sys.argv) == 6:
    wine_run, exe, standin = sys.argv[3:6]
    folder = subprocess.run([wine_run, "winepath", "-w", standin], capture_output=True,
                            text=True).stdout.strip()
    env = dict(os.environ, WINEPATH=folder)
    result["wine_version_ms"] = timed([wine_run, exe, "--version"], env)
    result["wine_get_ms"] = timed([wine_run, exe, "get"], env)

SWAP = 1000
SENSORS = 5
with tempfile.TemporaryDirectory() as folder:
    profile = os.path.join(folder, "p.json")
    with open(profile, "w") as f:
        f.write('{"zeltoctl_profile": 1, "parameters": {"sensitivity": 8, "relay": 2.5}}')
    # The sensor's stored values: the bench's defaults (apply writes), or the profile's
    # (verify finds them).
    for name, args in (("apply_ms", ["apply", profile]),
                       ("verify_ms", ["--sim-params", "8,5,1,0,0,1", "verify", profile])):
        result[name] = timed([zeltoctl, "--sim", *args])
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
