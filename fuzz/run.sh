#!/usr/bin/env bash
# Builds the libFuzzer targets into build-fuzz (Clang, ASan + UBSan) and runs each one for a
# while, on the seeds written from tests/data plus the corpus kept from earlier runs.
#
#   fuzz/run.sh [seconds-per-target]     default 10; a longer session: fuzz/run.sh 600
#
# Prints the executions per target and their total, lists every finding of this run (kept
# under build-fuzz/fuzz/findings/<target>/ until the next run) with its bytes in hex, and exits 1
# when there is one. Where clang++ has no libFuzzer (Apple's clang ships none) it says so and
# exits 0.
set -euo pipefail
seconds="${1:-10}"
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-fuzz"
targets=(request value socket_info quote handle_line)

probe="$(mktemp -d "${TMPDIR:-/tmp}/korvane-fuzz-probe.XXXXXX")"
printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' >"$probe/probe.cpp"
if ! clang++ -fsanitize=fuzzer "$probe/probe.cpp" -o "$probe/probe" >/dev/null 2>&1; then
  rm -rf "$probe"
  echo "fuzzing skipped: clang++ cannot link libFuzzer here (-fsanitize=fuzzer); Apple's clang ships none"
  exit 0
fi
rm -rf "$probe"

cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKORVANE_FUZZ=ON -DKORVANE_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target korvane_fuzz -j2 >/dev/null

# The leak checker runs wherever it exists: Apple's clang has none for arm64 (detect_leaks=1 aborts).
leaks=1
[ "$(uname -s)-$(uname -m)" = Darwin-arm64 ] && leaks=0
export ASAN_OPTIONS="detect_leaks=$leaks:abort_on_error=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:${UBSAN_OPTIONS:-}"
total=0
found=0
for target in "${targets[@]}"; do
  work="$build/fuzz"
  corpus="$work/corpus/$target"
  findings="$work/findings/$target"
  log="$work/logs/$target.log"
  rm -rf "$findings"
  mkdir -p "$corpus" "$findings" "$(dirname "$log")"
  status=0
  "$work/${target}_fuzzer" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -dict="$root/fuzz/json.dict" -artifact_prefix="$findings/" \
    "$corpus" "$work/seeds/$target" "$root/fuzz/seeds/$target" >"$log" 2>&1 || status=$?
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
  runs="${runs:-0}"
  total=$((total + runs))
  printf '%-12s %12s executions  exit %d\n' "$target" "$runs" "$status"
  if [ "$runs" -eq 0 ]; then
    found=1
    echo "  no input ran: see $log"
  fi
  if [ "$status" -ne 0 ]; then
    found=1
    grep -E '^\*\*\*|ERROR|SUMMARY' "$log" | head -n 5 | sed 's/^/  /' || true
  fi
  for artifact in "$findings"/*; do
    [ -e "$artifact" ] || continue
    found=1
    echo "  finding: $artifact"
    echo "  hex: $(od -An -tx1 -v "$artifact" | tr -d ' \n' | head -c 2000)"
  done
done
echo "total      $total executions"
if [ "$found" -ne 0 ]; then
  echo "findings: see above and $build/fuzz/logs/"
  exit 1
fi
echo "no findings"
