#!/usr/bin/env bash
# Runs the end-to-end suite with every korvane-mcp process under valgrind (memcheck, full leak
# check). The suite starts the server named by KORVANE_E2E_SERVER, here a wrapper that execs
# valgrind on the built binary; valgrind logs go to files, so the server's stderr stays as it is.
#
#   scripts/valgrind-e2e.sh [build dir] [gtest filter]     defaults: a dynamic build in build-valgrind, *
#
# A memory error or a definite/indirect leak makes that server exit 99, which fails its test;
# the non-empty valgrind logs are printed at the end. Exits non-zero on any failure.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
# Valgrind cannot follow malloc inside a static binary, so the server is built dynamically here.
if [ -z "${1:-}" ]; then
  cmake -S "$root" -B "$root/build-valgrind" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVANE_STATIC=OFF >/dev/null
  cmake --build "$root/build-valgrind" -j"$(getconf _NPROCESSORS_ONLN 2>/dev/null || echo 2)" --target korvane-mcp korvane-standin-app korvane_e2e_tests >/dev/null
fi
build="$(cd "${1:-$root/build-valgrind}" && pwd)"
filter="${2:-*}"
server="$build/korvane-mcp"
suite="$build/tests/korvane_e2e_tests"
valgrind="$(command -v valgrind || true)"
for needed in "$server" "$suite" "$valgrind"; do
  if [ -z "$needed" ] || [ ! -x "$needed" ]; then
    echo "missing: ${needed:-valgrind} (build first: scripts/build.sh; apt-get install valgrind)" >&2
    exit 2
  fi
done

work="$(mktemp -d "${TMPDIR:-/tmp}/korvane-valgrind.XXXXXX")"
logs="$work/logs"
mkdir -p "$logs"
wrapper="$work/korvane-mcp-under-valgrind"
# The suite gives its children an exact environment, so the wrapper names everything by path.
cat >"$wrapper" <<WRAPPER
#!/bin/sh
exec "$valgrind" --quiet --error-exitcode=99 --leak-check=full \\
  --show-leak-kinds=definite,indirect --errors-for-leak-kinds=definite,indirect \\
  --log-file="$logs/valgrind-%p.log" "$server" "\$@"
WRAPPER
chmod +x "$wrapper"

status=0
KORVANE_E2E_SERVER="$wrapper" "$suite" --gtest_filter="$filter" --gtest_brief=1 || status=$?

runs="$(find "$logs" -name 'valgrind-*.log' | wc -l)"
reports="$(find "$logs" -name 'valgrind-*.log' -size +0 | sort)"
echo "valgrind: $runs server runs checked, logs in $logs"
if [ "$runs" -eq 0 ]; then
  echo "no server ran under valgrind: does the e2e suite read KORVANE_E2E_SERVER?" >&2
  exit 2
fi
for report in $reports; do
  echo "---- $report"
  cat "$report"
  status=1
done
if [ "$status" -eq 0 ]; then
  echo "valgrind: no errors, no leaks"
  rm -rf "$work"
fi
exit "$status"
