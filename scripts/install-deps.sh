#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
#   scripts/install-deps.sh [extra package ...]
# Node.js and npm count as present when their commands are (they may come from elsewhere).
set -euo pipefail

packages=(g++ make cmake nlohmann-json3-dev libgtest-dev libgmock-dev googletest "$@")
missing=()
for package in "${packages[@]}"; do
  case "$package" in
    nodejs) command -v node >/dev/null 2>&1 && continue ;;
    npm) command -v npm >/dev/null 2>&1 && continue ;;
  esac
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
