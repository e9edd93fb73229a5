#!/usr/bin/env bash
# Checks a release archive as a user would receive it: its .sha256 beside it verifies, and the
# server it holds prints the expected version (under qemu-aarch64-static for an aarch64 archive on
# another machine).
#   scripts/verify-archive.sh ARCHIVE VERSION
set -euo pipefail
archive="$1"
version="$2"
fail() { echo "verify-archive: FAILED: $*" >&2; exit 1; }

[ -f "$archive" ] || fail "no $archive"
[ -f "$archive.sha256" ] || fail "no $archive.sha256"
dir="$(cd "$(dirname "$archive")" && pwd)"
name="$(basename "$archive")"
if command -v sha256sum >/dev/null 2>&1; then
  (cd "$dir" && sha256sum -c "$name.sha256") || fail "sha256sum -c $name.sha256"
else
  (cd "$dir" && shasum -a 256 -c "$name.sha256") || fail "shasum -a 256 -c $name.sha256"
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
tar -xzf "$archive" -C "$work"
server="$work/korvane-mcp-$version/bin/korvane-mcp"
[ -x "$server" ] || fail "$name holds no korvane-mcp-$version/bin/korvane-mcp"
runner=""
case "$name:$(uname -m)" in
  *-linux-aarch64.tar.gz:aarch64 | *-linux-aarch64.tar.gz:arm64) ;;
  *-linux-aarch64.tar.gz:*) runner=qemu-aarch64-static ;;
esac
reported="$($runner "$server" --version </dev/null)"
[ "$reported" = "korvane-mcp $version" ] || fail "the server prints \"$reported\", not \"korvane-mcp $version\""
echo "verify-archive: $name: checksum and version $version"
