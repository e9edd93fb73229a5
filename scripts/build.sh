#!/usr/bin/env bash
# Configures and builds the project into build/ (Release, warnings as errors).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DKORVANE_WERROR=ON >/dev/null
cmake --build build -j"$(getconf _NPROCESSORS_ONLN 2>/dev/null || echo 2)"
