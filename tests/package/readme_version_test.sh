#!/usr/bin/env bash
# The README's install lines and examples name the project's version (CMakeLists.txt), and
# CHANGELOG.md has a dated section for it: a release that forgets either fails here.
#   readme_version_test.sh SOURCE_DIR VERSION
set -euo pipefail
readme="$1/README.md"
version="$2"
named="$(grep -oE 'korvane-mcp[- ][0-9]+\.[0-9]+\.[0-9]+|"version":"[0-9]+\.[0-9]+\.[0-9]+"' "$readme" |
  grep -oE '[0-9]+\.[0-9]+\.[0-9]+' || true)"
[ -n "$named" ] || { echo "FAILED: README.md names no version" >&2; exit 1; }
stale="$(printf '%s\n' "$named" | grep -vxF "$version" | sort -u || true)"
[ -z "$stale" ] || { echo "FAILED: README.md names $(echo "$stale" | tr '\n' ' ')where the version is $version" >&2; exit 1; }
grep -qE "^## \[$(printf '%s' "$version" | sed 's/\./\\./g')\] - [0-9]{4}-[0-9]{2}-[0-9]{2}\$" "$1/CHANGELOG.md" ||
  { echo "FAILED: CHANGELOG.md has no dated section \"## [$version] - YYYY-MM-DD\"" >&2; exit 1; }
echo "ok: README.md names $version $(printf '%s\n' "$named" | grep -c .) times, and CHANGELOG.md its section"
