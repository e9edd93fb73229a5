#!/usr/bin/env bash
# The quick loop for whoever works here: one Release build (warnings as errors) of the server,
# the stand-in app and the suites, then each test once: unit, end-to-end, the fuzz seed replays and
# the package checks (not the traced second run of the end-to-end suite, nor the interop and agent
# client suites), and the format check; a few minutes on 2 cores (./test.sh runs every stage, as
# CI does). Set CMAKE_CXX_COMPILER_LAUNCHER=ccache in the environment to reuse earlier compilations.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs="$(getconf _NPROCESSORS_ONLN 2>/dev/null || echo 2)"
started=$SECONDS
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DKORVANE_WERROR=ON >/dev/null
cmake --build build -j"$jobs" --target korvane-mcp korvane-standin-app korvane_unit_tests korvane_e2e_tests \
  korvane_fuzz_replays
ctest --test-dir build -j"$jobs" --output-on-failure --no-tests=error --timeout 900 -L '^(unit|e2e|fuzz-seeds|package)$'
scripts/format.sh --check
echo "check: passed in $((SECONDS - started)) s"
