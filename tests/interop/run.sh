#!/usr/bin/env bash
# Runs the interop suite: real MCP clients drive korvane-mcp against the stand-in desktop app.
# CTest sets everything below; by hand the defaults point into the build/ directory.
#   KORVANE_MCP_BINARY         server binary (default build/korvane-mcp)
#   KORVANE_STANDIN_BINARY     stand-in app  (default build/standin/korvane-standin-app)
#   KORVANE_OS_ERRORS_BINARY   the C library's error texts (default build/tests/korvane-os-errors)
#   KORVANE_SERVER_VERSION     the version serverInfo must carry (default: CMakeLists.txt's)
# Needs Node.js and npm (./test.sh and scripts/install-deps.sh install them). Exits non-zero when
# a test fails or the suite cannot run.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
cd "$here"

absolute() { case "$1" in /*) printf '%s\n' "$1" ;; *) printf '%s/%s\n' "$PWD" "$1" ;; esac; }
KORVANE_MCP_BINARY="$(absolute "${KORVANE_MCP_BINARY:-$root/build/korvane-mcp}")"
KORVANE_STANDIN_BINARY="$(absolute "${KORVANE_STANDIN_BINARY:-$root/build/standin/korvane-standin-app}")"
KORVANE_OS_ERRORS_BINARY="$(absolute "${KORVANE_OS_ERRORS_BINARY:-$root/build/tests/korvane-os-errors}")"
export KORVANE_MCP_BINARY KORVANE_STANDIN_BINARY KORVANE_OS_ERRORS_BINARY
if [[ -z "${KORVANE_SERVER_VERSION:-}" ]]; then
  KORVANE_SERVER_VERSION="$(sed -n 's/^project(korvane_mcp VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
  export KORVANE_SERVER_VERSION
fi
for binary in "$KORVANE_MCP_BINARY" "$KORVANE_STANDIN_BINARY" "$KORVANE_OS_ERRORS_BINARY"; do
  if [[ ! -x "$binary" ]]; then
    echo "interop: no executable at $binary (build first, or set KORVANE_MCP_BINARY, KORVANE_STANDIN_BINARY, KORVANE_OS_ERRORS_BINARY)" >&2
    exit 2
  fi
done

for command in node npm; do
  if ! command -v "$command" >/dev/null 2>&1; then
    echo "interop: $command is missing (scripts/install-deps.sh nodejs npm installs it)" >&2
    exit 2
  fi
done
echo "interop: node $(node --version), npm $(npm --version)"

npm ci --no-audit --no-fund --prefer-offline --loglevel=error

runner=(node --test --test-reporter=spec)
node_major="$(node -p 'process.versions.node.split(".")[0]')"
if ((node_major >= 20)); then
  runner+=(--test-concurrency=1)
fi
exec "${runner[@]}" test/*.test.mjs
