#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs the core, text and simulated-bench tests under valgrind's memcheck, on a build without
# sanitizers (the two do not mix). Any memory error or leak fails the run.
#
#   bash scripts/valgrind-core.sh        (build folder: build-valgrind, or VALGRIND_BUILD_DIR)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${VALGRIND_BUILD_DIR:-build-valgrind}"

if ! command -v valgrind >/dev/null; then
  echo "valgrind is not installed (Debian: apt-get install valgrind)" >&2
  exit 2
fi

echo "== build in $build =="
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELTO_WERROR=ON \
  -DZELTO_QT=OFF -DZELTO_DRIVERS=OFF -DBUILD_TESTING=ON >/dev/null
cmake --build "$build" --target core_tests text_tests sim_tests

failed=0
for test in tests/core/core_tests tests/core/text/text_tests tests/sim/sim_tests; do
  echo "== valgrind $test =="
  started=$SECONDS
  if valgrind -q --error-exitcode=1 --leak-check=full "$build/$test" --gtest_brief=1; then
    echo "$test: no memory errors, no leaks ($((SECONDS - started)) s)"
  else
    echo "$test: FAILED under valgrind" >&2
    failed=1
  fi
done
exit "$failed"
