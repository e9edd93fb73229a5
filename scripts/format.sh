#!/usr/bin/env bash
# Formats the C++ sources with .clang-format, or with --check lists the files that differ and
# fails. Formatting differs between clang-format releases, so the check is pinned to the one
# Debian 12 ships (14). Without it, or with another release, the check says so and passes on a
# developer's machine, and fails under CI (CI set), where it must run. It also fails when it finds
# no file to check. Sources are listed with git where the tree is a git checkout, else with find
# (an unpacked source archive has no .git).
#   scripts/format.sh [--check]
set -euo pipefail
cd "$(dirname "$0")/.."
pinned=14
mode="${1:-}"

fail() {
  echo "format: FAILED: $*" >&2
  exit 1
}

skip_or_fail() {  # a check that cannot run is skipped by hand and fails under CI
  [ -n "${CI:-}" ] && [ "$CI" != false ] && fail "$* (CI needs clang-format $pinned: Debian's clang-format-$pinned, or scripts/install-deps.sh clang-format)"
  echo "format: check skipped ($*)"
  exit 0
}

list_sources() {
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files -- '*.h' '*.cpp'
  else
    find . \( -name 'build*' -o -name node_modules -o -name '.*' ! -name . \) -prune -o \
      -type f \( -name '*.h' -o -name '*.cpp' \) -print | sed 's|^\./||' | LC_ALL=C sort
  fi
}

tool=clang-format
command -v "clang-format-$pinned" >/dev/null 2>&1 && tool="clang-format-$pinned"
if ! command -v "$tool" >/dev/null 2>&1; then
  [ "$mode" = --check ] && skip_or_fail "no clang-format"
  fail "no clang-format found"
fi
files="$(list_sources)" || fail "cannot list the sources"
count="$(printf '%s' "$files" | grep -c . || true)"
[ "$count" -gt 0 ] || fail "no C++ source found to check"

if [ "$mode" != --check ]; then
  printf '%s\n' "$files" | while IFS= read -r file; do "$tool" -i "$file"; done
  exit 0
fi
major="$("$tool" --version | sed -n 's/.*version \([0-9]*\).*/\1/p')"
[ "$major" = "$pinned" ] || skip_or_fail "clang-format ${major:-of unknown version} formats differently from the pinned $pinned"

# Each file against what the formatter makes of it: any difference at all, on any line, fails.
differ=0
while IFS= read -r file; do
  if ! "$tool" --style=file "$file" | cmp -s - "$file"; then
    echo "format: $file differs from .clang-format (run scripts/format.sh)"
    differ=$((differ + 1))
  fi
done <<EOF_FILES
$files
EOF_FILES
[ "$differ" -eq 0 ] || fail "$differ of $count files differ"
echo "format: $count files as .clang-format formats them"
