#!/usr/bin/env bash
# Formats the C++ sources with .clang-format, or with --check lists the files that differ and
# fails. Formatting differs between clang-format releases, so the check is pinned to the one
# Debian 12 ships (14); with another release it says so and passes.
#   scripts/format.sh [--check]
set -euo pipefail
cd "$(dirname "$0")/.."
pinned=14
tool=clang-format
command -v "clang-format-$pinned" >/dev/null 2>&1 && tool="clang-format-$pinned"
if ! command -v "$tool" >/dev/null 2>&1; then
  [ "${1:-}" = --check ] && { echo "format: check skipped (no clang-format; Debian's clang-format package is $pinned)"; exit 0; }
  echo "format: no clang-format found" >&2
  exit 1
fi
major=$("$tool" --version | sed -n 's/.*version \([0-9]*\).*/\1/p')
mapfile -t files < <(git ls-files -- '*.h' '*.cpp' ':!:*.inc')
if [ "${1:-}" != --check ]; then
  "$tool" -i "${files[@]}"
  exit 0
fi
if [ "$major" != "$pinned" ]; then
  echo "format: check skipped (clang-format $major formats differently from the pinned $pinned)"
  exit 0
fi
differ=()
for file in "${files[@]}"; do
  "$tool" --dry-run -Werror "$file" >/dev/null 2>&1 || differ+=("$file")
done
if ((${#differ[@]})); then
  printf 'format: %s differs from .clang-format (run scripts/format.sh)\n' "${differ[@]}"
  exit 1
fi
echo "format: ${#files[@]} files as .clang-format formats them"
