#!/usr/bin/env bash
# Runs the client suite: the agent CLIs users run (Claude Code, Gemini CLI, opencode, Codex CLI,
# Copilot CLI), configured as the README and docs/ show, drive korvane-mcp against the stand-in app.
# CTest sets everything below; by hand the defaults point into the build/ directory.
#   KORVANE_MCP_BINARY       server binary (default build/korvane-mcp)
#   KORVANE_STANDIN_BINARY   stand-in app  (default build/standin/korvane-standin-app)
# The clients (about 1.5 GB with their native binaries) are installed from package-lock.json into
# node_modules/ once and reused while the lock file is unchanged. The install is `npm install
# --no-save`, not `npm ci`: the registry lacks some of opencode's optional per-platform packages,
# so the lock file cannot list them and `npm ci` refuses it as out of sync. Exits non-zero when a test
# fails or the suite cannot run, including when the npm registry cannot be reached for the install.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
cd "$here"

absolute() { case "$1" in /*) printf '%s\n' "$1" ;; *) printf '%s/%s\n' "$PWD" "$1" ;; esac; }
export KORVANE_MCP_BINARY="$(absolute "${KORVANE_MCP_BINARY:-$root/build/korvane-mcp}")"
export KORVANE_STANDIN_BINARY="$(absolute "${KORVANE_STANDIN_BINARY:-$root/build/standin/korvane-standin-app}")"
for binary in "$KORVANE_MCP_BINARY" "$KORVANE_STANDIN_BINARY"; do
  if [[ ! -x "$binary" ]]; then
    echo "clients: no executable at $binary (build first, or set KORVANE_MCP_BINARY, KORVANE_STANDIN_BINARY)" >&2
    exit 2
  fi
done
for command in node npm; do
  if ! command -v "$command" >/dev/null 2>&1; then
    echo "clients: $command is missing (scripts/install-deps.sh nodejs npm installs it)" >&2
    exit 2
  fi
done
echo "clients: node $(node --version), npm $(npm --version)"

installed=node_modules/.korvane-installed-lock.json
if cmp -s package-lock.json "$installed"; then
  echo "clients: reusing node_modules/ (installed from this package-lock.json)"
else
  registry="$(npm config get registry)"
  if ! npm ping --fetch-retries=0 --fetch-timeout=20000 >/dev/null 2>&1; then
    echo "clients: FAILED: the npm registry ($registry) cannot be reached, so the agent CLIs cannot be installed" >&2
    exit 1
  fi
  started=$SECONDS
  npm install --no-save --no-audit --no-fund --prefer-offline --loglevel=error
  cp package-lock.json "$installed"
  echo "clients: installing the clients took $((SECONDS - started)) s"
fi

runner=(node --test --test-reporter=spec)
node_major="$(node -p 'process.versions.node.split(".")[0]')"
if ((node_major >= 20)); then
  runner+=(--test-concurrency=1)
fi
exec "${runner[@]}" test/*.test.mjs
