#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is missing, builds, and starts the demo: the whole program on the simulated
# bench (a ZeltoProg adapter with a Duroz740 attached). Without a display it walks through the
# windows under Xvfb and prints the paths of the screenshots it took.
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/install-deps.sh demo
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
cmake --build build
exec bash scripts/demo build
