#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test suite:
#   1. the Release build (GCC, warnings as errors): unit, end-to-end and interop tests;
#   2. an AddressSanitizer + UndefinedBehaviorSanitizer build with Clang (warnings as errors):
#      the unit and end-to-end tests again;
#   3. every fuzz target for a few seconds on the conformance seeds.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh nodejs npm clang libclang-rt-14-dev

echo "== release build (g++)"
scripts/build.sh
ctest --test-dir build --output-on-failure -j2 --timeout 900

echo "== sanitizer build (clang++, ASan + UBSan)"
cmake -S . -B build-asan -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKORVANE_SANITIZE=ON -DKORVANE_WERROR=ON >/dev/null
cmake --build build-asan -j"$(nproc)" >/dev/null
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j2 --timeout 900 -E '^interop'

echo "== fuzzing (${KORVANE_FUZZ_SECONDS:-10} s per target)"
fuzz/run.sh "${KORVANE_FUZZ_SECONDS:-10}"
