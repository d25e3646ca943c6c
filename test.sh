#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is missing, builds everything with warnings as errors, and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/install-deps.sh
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZELTO_WERROR=ON -DZELTO_BENCH=ON -DBUILD_TESTING=ON >/dev/null
cmake --build build-test
ctest --test-dir build-test --output-on-failure -j2
