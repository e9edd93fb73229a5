#!/usr/bin/env bash
# Cross-builds the server, the stand-in app and the unit and end-to-end test binaries for macOS
# on Apple silicon (arm64-apple-macos), here on Linux, with Debian's clang-19 and lld-19 against a
# macOS SDK folder you supply, warnings as errors; then shows the Mach-O files it made. They
# cannot run here: the build shows that every macOS path compiles and links.
#   scripts/macos-cross-check.sh SDK_DIR [DEPLOYMENT_TARGET]     (default 11.0)
# SDK_DIR holds usr/include (with Apple's libc++ headers in usr/include/c++/v1) and usr/lib/*.tbd
# (libSystem.B.tbd, libc++.1.tbd, ...), as an Xcode or Command Line Tools SDK does. The build goes
# to build-macos-<target>/. Not part of ./test.sh: no SDK can be had offline.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 SDK_DIR [DEPLOYMENT_TARGET]" >&2
  exit 2
fi
sdk="$(cd "$1" && pwd)"
target="${2:-11.0}"
for needed in usr/include/c++/v1 usr/lib/libSystem.B.tbd usr/lib/libc++.1.tbd; do
  if [ ! -e "$sdk/$needed" ]; then
    echo "$0: $sdk has no $needed: not a macOS SDK folder" >&2
    exit 2
  fi
done
for tool in clang++-19 ld64.lld-19 cmake; do
  if ! command -v "$tool" >/dev/null; then
    echo "$0: $tool is missing (Debian: apt-get install clang-19 lld-19 llvm-19 cmake)" >&2
    exit 2
  fi
done

build="build-macos-$target"
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# A library path meant for the host would send the Mach-O linker to Linux libraries.
unset LIBRARY_PATH

cmake -S . -B "$build" ${generator[@]+"${generator[@]}"} ${launcher[@]+"${launcher[@]}"} --no-warn-unused-cli \
  -DCMAKE_TOOLCHAIN_FILE=cmake/arm64-apple-macos.cmake -DKORVANE_MACOS_SDK="$sdk" \
  -DCMAKE_OSX_DEPLOYMENT_TARGET="$target" -DCMAKE_BUILD_TYPE=Release -DKORVANE_WERROR=ON \
  -DKORVANE_GTEST_SOURCE_DIR=/usr/src/googletest
cmake --build "$build" -j"$(getconf _NPROCESSORS_ONLN 2>/dev/null || echo 2)" \
  --target korvane-mcp korvane-standin-app korvane_unit_tests korvane_e2e_tests

status=0
for binary in korvane-mcp standin/korvane-standin-app tests/korvane_unit_tests tests/korvane_e2e_tests; do
  description="$(file -b "$build/$binary")"
  echo "$build/$binary: $description"
  case "$description" in
    Mach-O*arm64*executable*) ;;
    *) status=1 ;;
  esac
done
[ "$status" -eq 0 ] && echo "macOS $target (arm64): every binary built" || echo "macOS $target (arm64): not every binary is a Mach-O arm64 executable" >&2
exit "$status"
