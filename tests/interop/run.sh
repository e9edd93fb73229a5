#!/usr/bin/env bash
# Runs the interop suite: real MCP clients drive korvane-mcp against the stand-in desktop app.
#   KORVANE_MCP_BINARY      server binary (default /work/main/build/korvane-mcp)
#   KORVANE_STANDIN_BINARY  stand-in app  (default /work/main/build/standin/korvane-standin-app)
# Exits non-zero when a test fails or the suite cannot run.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
cd "$here"

absolute() { case "$1" in /*) printf '%s\n' "$1" ;; *) printf '%s/%s\n' "$PWD" "$1" ;; esac; }
export KORVANE_MCP_BINARY="$(absolute "${KORVANE_MCP_BINARY:-/work/main/build/korvane-mcp}")"
export KORVANE_STANDIN_BINARY="$(absolute "${KORVANE_STANDIN_BINARY:-/work/main/build/standin/korvane-standin-app}")"
for binary in "$KORVANE_MCP_BINARY" "$KORVANE_STANDIN_BINARY"; do
  if [[ ! -x "$binary" ]]; then
    echo "interop: no executable at $binary (build it first, or set KORVANE_MCP_BINARY / KORVANE_STANDIN_BINARY)" >&2
    exit 2
  fi
done

missing=()
command -v node >/dev/null 2>&1 || missing+=(nodejs)
command -v npm >/dev/null 2>&1 || missing+=(npm)
if ((${#missing[@]} > 0)); then
  echo "interop: installing ${missing[*]} from Debian packages"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" >/dev/null
fi
echo "interop: node $(node --version), npm $(npm --version)"

npm ci --no-audit --no-fund --prefer-offline --loglevel=error

runner=(node --test --test-reporter=spec)
node_major="$(node -p 'process.versions.node.split(".")[0]')"
if ((node_major >= 20)); then
  runner+=(--test-concurrency=1)
fi
exec "${runner[@]}" test/*.test.mjs
