#!/usr/bin/env bash
# Builds korvane-mcp, the stand-in app and the benchmark in Release, installs the baseline's npm
# packages when needed, and prints the performance table with the targets.
# KORVANE_BENCH_QUICK=1 runs a tenth of the repetitions and lines (a quick look, not for the record).
# KORVANE_BENCH_WHOLE_PROCESS_ONLY=1 runs only the whole-process cases (no baseline, no Node).
# KORVANE_BENCH_BEFORE_COMMIT=REV (default 30813c3) builds that commit in Release, from a git worktree
#   made for it in a temporary folder and removed afterwards, and measures it in turn with this
#   build in the whole-process cases; the build is kept in the build folder, keyed by the commit.
#   KORVANE_BENCH_BEFORE_COMMIT= (empty) measures no earlier build.
# KORVANE_BENCH_BEFORE=PATH measures that earlier build of korvane-mcp instead.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${KORVANE_BENCH_BUILD_DIR:-$root/build-bench}"
baseline="$root/bench/baseline"
jobs="$(getconf _NPROCESSORS_ONLN 2>/dev/null || echo 2)"

# The server of an earlier commit, built once into $build/before/<commit>/.
build_before() {
  local commit cache source
  commit="$(git -C "$root" rev-parse --short=12 "$1^{commit}")"
  cache="$build/before/$commit"
  if [[ ! -x $cache/korvane-mcp ]]; then
    source="$(mktemp -d "${TMPDIR:-/tmp}/korvane-before.XXXXXX")"
    trap 'git -C "$root" worktree remove --force "$source" >/dev/null 2>&1 || true; rm -rf "$source"' EXIT
    git -C "$root" worktree add --detach "$source" "$commit" >/dev/null 2>&1
    cmake -S "$source" -B "$cache/build" -DCMAKE_BUILD_TYPE=Release -DKORVANE_BUILD_TESTS=OFF >/dev/null
    cmake --build "$cache/build" -j"$jobs" --target korvane-mcp >/dev/null
    cp "$cache/build/korvane-mcp" "$cache/korvane-mcp"
    git -C "$root" worktree remove --force "$source" >/dev/null
    rm -rf "$source" "$cache/build"
    trap - EXIT
  fi
  echo "$cache/korvane-mcp"
}

whole_process_only="${KORVANE_BENCH_WHOLE_PROCESS_ONLY:-}"
[[ -n $whole_process_only ]] || "$root/scripts/install-deps.sh" nodejs npm
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKORVANE_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$jobs" --target korvane-mcp korvane-standin-app korvane-bench korvane-bench-launch >/dev/null
before="${KORVANE_BENCH_BEFORE:-}"
before_commit="${KORVANE_BENCH_BEFORE_COMMIT-30813c3}"
if [[ -z $before && -n $before_commit ]]; then
  before="$(build_before "$before_commit")"
  echo "before: $before_commit, built in Release as $before"
fi

if [[ -z $whole_process_only ]] && [[ ! -f "$baseline/node_modules/.package-lock.json" ||
  "$baseline/package-lock.json" -nt "$baseline/node_modules/.package-lock.json" ]]; then
  (cd "$baseline" && npm ci --no-audit --no-fund --loglevel=error)
fi

echo "korvane-mcp $(git -C "$root" describe --always --dirty 2>/dev/null || echo unknown)," \
  "node $([[ -n $whole_process_only ]] && echo unused || node --version); load: $(uptime)"
exec "$build/bench/korvane-bench" --server "$build/korvane-mcp" --standin "$build/standin/korvane-standin-app" \
  --baseline "$baseline/server.mjs" --launcher "$build/bench/korvane-bench-launch" \
  ${before:+--before "$before"}
