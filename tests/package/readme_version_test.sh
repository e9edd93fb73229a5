#!/usr/bin/env bash
# The README's install lines and examples name the project's version (CMakeLists.txt): a release
# that forgets them fails here.
#   readme_version_test.sh SOURCE_DIR VERSION
set -euo pipefail
readme="$1/README.md"
version="$2"
named="$(grep -oE 'korvane-mcp[- ][0-9]+\.[0-9]+\.[0-9]+|"version":"[0-9]+\.[0-9]+\.[0-9]+"' "$readme" |
  grep -oE '[0-9]+\.[0-9]+\.[0-9]+' || true)"
[ -n "$named" ] || { echo "FAILED: README.md names no version" >&2; exit 1; }
stale="$(printf '%s\n' "$named" | grep -vxF "$version" | sort -u || true)"
[ -z "$stale" ] || { echo "FAILED: README.md names $(echo "$stale" | tr '\n' ' ')where the version is $version" >&2; exit 1; }
echo "ok: README.md names $version $(printf '%s\n' "$named" | grep -c .) times"
