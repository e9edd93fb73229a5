#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test suite, stage by stage, with
# each stage's duration:
#   1. release: the format check (scripts/format.sh, on Linux), shellcheck and actionlint
#      (scripts/lint.sh), then the default compiler, warnings as errors; every test (labels:
#      unit, e2e, traced, fuzz-seeds, package, interop, clients), the agent CLIs among them;
#   2. sanitizers: clang++ with AddressSanitizer (and its leak checker where the platform has
#      one) and UndefinedBehaviorSanitizer; every test but interop and clients (so stages 2, 4,
#      5 and 6 run the unit, end-to-end and traced suites and replay the fuzz seeds);
#   3. fuzzing: every fuzz target for a few seconds, where clang++ has libFuzzer;
#   4. portable (Linux): every optional system feature switched off (KORVANE_PORTABLE_ONLY), so
#      the portable ways other systems take (macOS: fcntl after pipe/socket/accept, no floating-point
#      to_chars, ...) are built and run here, and the byte scanners without their vector paths
#      (KORVANE_NO_BYTE_VECTOR); unit and end-to-end tests;
#   5. libc++ (Linux): clang-19 with libc++, the standard library of Apple's toolchain; unit and
#      end-to-end tests;
#   6. aarch64 (Linux): cross-built with g++-aarch64-linux-gnu, linked statically, unit and
#      end-to-end tests run under qemu-aarch64-static.
# Node 22 and actionlint come from the folder of scripts/tools.sh where the system lacks them.
# scripts/macos-cross-check.sh, which needs a macOS SDK, is not a stage. Stages 5 and 6 build
# GoogleTest from /usr/src/googletest with their own compiler (linking it statically, the linker
# notes that its unused result streaming would need glibc's getaddrinfo). scripts/check.sh is the
# quick loop: one build, each test once and the format check. Every stage fails when it finds no test.
set -euo pipefail
cd "$(dirname "$0")"
system="$(uname -s)"
jobs="$(getconf _NPROCESSORS_ONLN 2>/dev/null || echo 2)"
linux_toolchains=(clang-format clang libclang-rt-14-dev clang-19 libc++-19-dev libc++abi-19-dev g++-aarch64-linux-gnu qemu-user-static)
scripts/install-deps.sh node shellcheck actionlint "${linux_toolchains[@]}"
# shellcheck source=scripts/tools.sh
. scripts/tools.sh
use_cached_tools   # the Node the agent CLIs need, where the system's is too old, and actionlint

summary=""
current=""
report_failed_stage() {
  local status=$?
  if [ "$status" -ne 0 ] && [ -n "$current" ]; then echo "== stage \"$current\" failed (exit $status)"; fi
}
trap report_failed_stage EXIT

stage() {  # stage NAME FUNCTION: runs the function and notes how long it took
  current="$1"
  local started=$SECONDS
  echo "== $1"
  "$2"
  local took=$((SECONDS - started))
  echo "== $1: $((took / 60)) min $((took % 60)) s"
  summary="$summary$(printf '%-24s %3d min %2d s' "$1" $((took / 60)) $((took % 60)))"$'\n'
  current=""
}

skip() {  # skip NAME REASON
  echo "== $1: skipped ($2)"
  summary="$summary$(printf '%-24s skipped: %s' "$1" "$2")"$'\n'
}

all_but_interop() {  # runs every test of a build directory but the interop and agent-client suites
  ctest --test-dir "$1" --output-on-failure --no-tests=error -j2 --timeout 900 -LE '^(interop|clients)$'
}

release() {
  # The pinned clang-format is Debian 12's; Homebrew has only newer ones, which format differently.
  if [ "$system" = Linux ]; then
    scripts/format.sh --check
  else
    echo "format: checked on Linux, with Debian 12's clang-format (Homebrew's format differently)"
  fi
  scripts/lint.sh
  scripts/build.sh
  ctest --test-dir build --output-on-failure --no-tests=error -j2 --timeout 900
}

sanitizers() {
  # The leak checker runs wherever it exists: Apple's clang has none for arm64 (detect_leaks=1 aborts).
  local options="detect_leaks=1:abort_on_error=1"
  [ "$system-$(uname -m)" = Darwin-arm64 ] && options="detect_leaks=0:abort_on_error=1"
  # Homebrew's GoogleTest is not instrumented, and libc++ containers shared with uninstrumented
  # code give false container-overflow reports (AddressSanitizer's documented caveat).
  [ "$system" = Darwin ] && options="$options:detect_container_overflow=0"
  cmake -S . -B build-asan -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKORVANE_SANITIZE=ON -DKORVANE_WERROR=ON >/dev/null
  cmake --build build-asan -j"$jobs" >/dev/null
  ASAN_OPTIONS="$options" UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    all_but_interop build-asan
}

fuzzing() {
  fuzz/run.sh "${KORVANE_FUZZ_SECONDS:-10}"
}

portable() {
  cmake -S . -B build-portable -DCMAKE_BUILD_TYPE=Release -DKORVANE_WERROR=ON -DKORVANE_PORTABLE_ONLY=ON \
    -DKORVANE_NO_BYTE_VECTOR=ON >/dev/null
  cmake --build build-portable -j"$jobs" --target korvane_unit_tests korvane_e2e_tests korvane_fuzz_replays >/dev/null
  all_but_interop build-portable
}

libcxx() {
  cmake -S . -B build-libcxx -DCMAKE_CXX_COMPILER=clang++-19 -DCMAKE_CXX_FLAGS=-stdlib=libc++ \
    -DCMAKE_EXE_LINKER_FLAGS=-stdlib=libc++ -DCMAKE_BUILD_TYPE=Release -DKORVANE_WERROR=ON \
    -DKORVANE_GTEST_SOURCE_DIR=/usr/src/googletest >/dev/null
  cmake --build build-libcxx -j"$jobs" --target korvane_unit_tests korvane_e2e_tests korvane_fuzz_replays >/dev/null
  all_but_interop build-libcxx
}

aarch64() {
  cmake -S . -B build-aarch64 --no-warn-unused-cli -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake -DCMAKE_BUILD_TYPE=Release \
    -DKORVANE_WERROR=ON -DKORVANE_GTEST_SOURCE_DIR=/usr/src/googletest >/dev/null
  cmake --build build-aarch64 -j"$jobs" --target korvane_unit_tests korvane_e2e_tests korvane_fuzz_replays >/dev/null
  all_but_interop build-aarch64
}

stage "release" release
stage "sanitizers" sanitizers
stage "fuzzing" fuzzing
if [ "$system" = Linux ]; then
  stage "portable (features off)" portable
  stage "libc++ (clang-19)" libcxx
  stage "aarch64 (qemu)" aarch64
else
  skip "portable (features off)" "Linux only: it runs there the ways that builds for other systems take"
  skip "libc++ (clang-19)" "Linux only; this system's own clang and libc++ built the release stage"
  skip "aarch64 (qemu)" "Linux only: it cross-builds with Debian's aarch64 toolchain"
fi
echo "== all stages passed"
printf '%s' "$summary"
