#!/usr/bin/env bash
# Installs what is missing, builds the server and shows it answering a short session.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
scripts/build.sh
exec scripts/demo.sh
