#!/usr/bin/env bash
# Builds the server for release and packs it with its documents:
#
#   dist/korvane-mcp-<version>-<os>-<arch>.tar.gz    korvane-mcp-<version>/bin/korvane-mcp, LICENSE,
#                                                    README.md, CHANGELOG.md, docs/clients.md
#   dist/korvane-mcp-<version>-<os>-<arch>.tar.gz.sha256   for `sha256sum -c` or `shasum -a 256 -c`
#
#   scripts/package.sh [--aarch64] [--build-dir DIR] [--out DIR] [--sign IDENTITY [--notarize PROFILE]]
#
# <os>-<arch> is linux-x86_64 or linux-aarch64 here (a static, stripped binary; --aarch64 cross-builds
# with cmake/aarch64-linux-gnu.cmake), macos-universal on a Mac (arm64 and x86_64 in one binary,
# stripped and ad-hoc signed). The build goes to build-package[-<arch>] unless --build-dir names a
# build folder already configured for Release (the test command reuses its own); --out defaults to dist/.
# On a Mac, --sign signs with a Developer ID instead (hardened runtime, secure timestamp), and
# --notarize submits the signed binary to Apple's notary service with that notarytool keychain
# profile and waits for it to be accepted, so that Gatekeeper lets a downloaded copy start.
#
# Two packings of one commit give the same bytes, wherever and whenever they run: every member
# carries the commit's time (SOURCE_DATE_EPOCH when set; else the commit's, or in an unpacked source
# archive without .git the time git archive gave its files), owner 0/0 by number, mode 755 or 644,
# and the members come in sorted order, in a gzip stream without name or time.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

fail() { echo "package.sh: $*" >&2; exit 1; }

# pack DIR NAME: writes to stdout DIR/NAME as a gzip-compressed tar that depends on nothing but
# the names and contents of its files (and $epoch).
pack() {
  local members
  find "$1/$2" -type d -exec chmod 755 {} +
  find "$1/$2" -type f ! -perm -u+x -exec chmod 644 {} +
  find "$1/$2" -type f -perm -u+x -exec chmod 755 {} +
  if touch -d "@$epoch" "$1/$2" 2>/dev/null; then
    find "$1/$2" -exec touch -h -d "@$epoch" {} +
  else  # BSD touch: -t in UTC
    find "$1/$2" -exec env TZ=UTC touch -h -t "$(TZ=UTC date -r "$epoch" +%Y%m%d%H%M.%S)" {} +
  fi
  members="$(cd "$1" && find "$2" | LC_ALL=C sort)"
  local tar_args=(--format=ustar --owner=0 --group=0 --numeric-owner)
  tar --version 2>/dev/null | grep -q 'GNU tar' || tar_args=(--format ustar --uid 0 --gid 0 --numeric-owner --no-mac-metadata --no-xattrs --no-acls)
  printf '%s\n' "$members" | tar -C "$1" "${tar_args[@]}" --no-recursion -cf - -T - | gzip -9 -n
}

cross_aarch64=false
build=""
identity=""
notary_profile=""
out="$root/dist"
while [ $# -gt 0 ]; do
  case "$1" in
    --aarch64) cross_aarch64=true ;;
    --build-dir) build="${2:?--build-dir needs a folder}"; shift ;;
    --out) out="${2:?--out needs a folder}"; shift ;;
    --sign) identity="${2:?--sign needs a signing identity}"; shift ;;
    --notarize) notary_profile="${2:?--notarize needs a notarytool keychain profile}"; shift ;;
    *) fail "unknown argument: $1 (see the comment at the top of the script)" ;;
  esac
  shift
done

source_date_epoch() {
  if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
    echo "$SOURCE_DATE_EPOCH"
  elif [ -e "$root/.git" ]; then  # a checkout's files carry the time of checkout: only git knows the commit's
    git -C "$root" log -1 --format=%ct
  else
    perl -e 'print +(stat shift)[9], "\n"' "$root/CMakeLists.txt"
  fi
}
epoch="$(source_date_epoch)" || fail "no source date: git cannot read the checkout (installed? a safe.directory?)"
case "$epoch" in "" | *[!0-9]*) fail "no source date (SOURCE_DATE_EPOCH or the commit's time): \"$epoch\"" ;; esac

version="$(sed -n 's/^project(korvane_mcp VERSION \([0-9][0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
[ -n "$version" ] || fail "no project version in CMakeLists.txt"

configure_args=(-DCMAKE_BUILD_TYPE=Release -DKORVANE_STATIC=ON -DKORVANE_BUILD_TESTS=OFF)
system="$(uname -s)"
strip_tool="strip"
run_packed=()
if [ "$system" != Darwin ] && [ -n "$identity$notary_profile" ]; then
  fail "--sign and --notarize are for macOS"
fi
[ -n "$notary_profile" ] && [ -z "$identity" ] && fail "--notarize needs --sign"
if [ "$system" = Darwin ]; then
  $cross_aarch64 && fail "--aarch64 is a Linux cross build"
  platform=macos-universal
  configure_args+=("-DCMAKE_OSX_ARCHITECTURES=arm64;x86_64" -DCMAKE_OSX_DEPLOYMENT_TARGET=11.0)
elif $cross_aarch64; then
  platform=linux-aarch64
  configure_args+=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/aarch64-linux-gnu.cmake")
  strip_tool=aarch64-linux-gnu-strip
  run_packed=(qemu-aarch64-static)
else
  platform="linux-$(uname -m)"
fi

# A reused build folder must hold what a fresh one would: a Release build, linked statically,
# without sanitizers.
cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
if [ -n "$build" ]; then
  [ -f "$build/CMakeCache.txt" ] || fail "$build is not a configured build folder"
  [ "$(cache_value CMAKE_BUILD_TYPE)" = Release ] || fail "$build is not a Release build"
  [ "$(cache_value KORVANE_SANITIZE)" != ON ] || fail "$build is a sanitizer build"
  [ "$(cache_value KORVANE_STATIC)" != OFF ] || fail "$build links the server dynamically"
else
  build="$root/build-package"
  [ "$platform" = linux-aarch64 ] && build="$root/build-package-aarch64"
  cmake -S "$root" -B "$build" "${configure_args[@]}" >/dev/null
fi
cmake --build "$build" --target korvane-mcp -j"$(getconf _NPROCESSORS_ONLN 2>/dev/null || echo 2)" >/dev/null

name="korvane-mcp-$version"
archive="$name-$platform.tar.gz"
stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/$name/bin" "$stage/$name/docs" "$out"
binary="$stage/$name/bin/korvane-mcp"
cp "$build/korvane-mcp" "$binary"
"$strip_tool" "$binary"

if [ "$system" = Darwin ]; then
  archs="$(lipo -archs "$binary")"
  for arch in arm64 x86_64; do
    case " $archs " in *" $arch "*) ;; *) fail "the binary holds $archs, not $arch" ;; esac
  done
  if [ -n "$identity" ]; then
    codesign --force --options runtime --timestamp --sign "$identity" "$binary"
  else
    codesign --force -s - "$binary"   # ad hoc: Apple silicon runs no unsigned code
  fi
  if [ -n "$notary_profile" ]; then
    ditto -c -k --keepParent "$binary" "$stage/korvane-mcp.zip"
    verdict="$(xcrun notarytool submit "$stage/korvane-mcp.zip" --keychain-profile "$notary_profile" --wait)"
    echo "$verdict" >&2
    grep -q 'status: Accepted' <<<"$verdict" || fail "notarization was not accepted"
    rm "$stage/korvane-mcp.zip"
  fi
else
  readelf -d "$binary" | grep -q NEEDED && fail "the binary needs shared libraries"
  readelf -S "$binary" | grep -q '\.symtab' && fail "the binary still has its symbol table"
fi

reported="$(${run_packed[@]+"${run_packed[@]}"} "$binary" --version)"
[ "$reported" = "korvane-mcp $version" ] || fail "the binary says \"$reported\", not \"korvane-mcp $version\""

cp "$root/LICENSE" "$root/README.md" "$root/CHANGELOG.md" "$stage/$name/"
cp "$root/docs/clients.md" "$stage/$name/docs/"
pack "$stage" "$name" >"$out/$archive"

cd "$out"
if command -v sha256sum >/dev/null; then
  sha256sum "$archive" > "$archive.sha256"
else
  shasum -a 256 "$archive" > "$archive.sha256"
fi
echo "$out/$archive"
