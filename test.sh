#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test suite.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh nodejs npm
scripts/build.sh
ctest --test-dir build --output-on-failure -j2 --timeout 900
