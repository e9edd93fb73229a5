#!/usr/bin/env bash
# Installs what the build and the tests need, when any of it is missing.
#   scripts/install-deps.sh [extra Debian package ...]
# Debian 12 (as root): apt-get installs the packages, the extras too. Node.js and npm count as
# present when their commands are (they may come from elsewhere).
# macOS: Homebrew installs cmake, nlohmann-json and googletest (node for the extras nodejs and
# npm); the compiler comes with Xcode or its Command Line Tools. Other extras are Debian
# toolchains for Linux-only test stages and are left out.
set -euo pipefail

install_with_brew() {
  if ! command -v c++ >/dev/null 2>&1; then
    echo "no C++ compiler: install Xcode or its Command Line Tools (xcode-select --install)" >&2
    exit 1
  fi
  if ! command -v brew >/dev/null 2>&1; then
    echo "Homebrew is needed to install the dependencies: see https://brew.sh" >&2
    exit 1
  fi
  local formulae="cmake nlohmann-json googletest" extra missing=""
  for extra in "$@"; do
    case "$extra" in
      nodejs | npm) formulae="$formulae node" ;;
    esac
  done
  for formula in $formulae; do
    case "$formula" in
      cmake) command -v cmake >/dev/null 2>&1 && continue ;;
      node) command -v node >/dev/null 2>&1 && command -v npm >/dev/null 2>&1 && continue ;;
    esac
    case " $missing " in *" $formula "*) continue ;; esac
    brew list --versions "$formula" >/dev/null 2>&1 || missing="$missing $formula"
  done
  if [ -n "$missing" ]; then
    echo "installing:$missing"
    # shellcheck disable=SC2086  # one word per formula
    brew install $missing
  fi
}

install_with_apt() {
  local packages=(g++ make cmake nlohmann-json3-dev libgtest-dev libgmock-dev googletest "$@")
  local missing=() package
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
}

case "$(uname -s)" in
  Darwin) install_with_brew "$@" ;;
  *) install_with_apt "$@" ;;
esac
