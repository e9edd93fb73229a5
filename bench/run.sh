#!/usr/bin/env bash
# Builds korvane-mcp, the stand-in app and the benchmark in Release, installs the baseline's npm
# packages when needed, and prints the performance table with the targets.
# KORVANE_BENCH_QUICK=1 runs a tenth of the repetitions and lines (a quick look, not for the record).
# KORVANE_BENCH_WHOLE_PROCESS_ONLY=1 runs only the whole-process cases (no baseline, no Node).
# KORVANE_BENCH_BEFORE=PATH measures that earlier build of korvane-mcp in turn with this one there.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${KORVANE_BENCH_BUILD_DIR:-$root/build-bench}"
baseline="$root/bench/baseline"

whole_process_only="${KORVANE_BENCH_WHOLE_PROCESS_ONLY:-}"
[[ -n $whole_process_only ]] || "$root/scripts/install-deps.sh" nodejs npm
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKORVANE_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(getconf _NPROCESSORS_ONLN 2>/dev/null || echo 2)" --target korvane-mcp korvane-standin-app korvane-bench korvane-bench-launch >/dev/null

if [[ -z $whole_process_only ]] && [[ ! -f "$baseline/node_modules/.package-lock.json" ||
  "$baseline/package-lock.json" -nt "$baseline/node_modules/.package-lock.json" ]]; then
  (cd "$baseline" && npm ci --no-audit --no-fund --loglevel=error)
fi

echo "korvane-mcp $(git -C "$root" describe --always --dirty 2>/dev/null || echo unknown)," \
  "node $([[ -n $whole_process_only ]] && echo unused || node --version)"
exec "$build/bench/korvane-bench" --server "$build/korvane-mcp" --standin "$build/standin/korvane-standin-app" \
  --baseline "$baseline/server.mjs" --launcher "$build/bench/korvane-bench-launch" \
  ${KORVANE_BENCH_BEFORE:+--before "$KORVANE_BENCH_BEFORE"}
