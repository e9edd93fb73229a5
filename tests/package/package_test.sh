#!/usr/bin/env bash
# Packs the release archive from the test build and checks what a user gets: exactly the
# documented files under korvane-mcp-<version>/, a checksum file that sha256sum accepts, a packed
# server that is static, stripped and prints its version, and the same bytes from a second packing
# into another folder under another umask (a packager can rebuild a published archive).
#   package_test.sh BUILD_DIR VERSION
set -euo pipefail
build="$1"
version="$2"
root="$(cd "$(dirname "$0")/../.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

archive="korvane-mcp-$version-linux-$(uname -m).tar.gz"
archive_path="$(umask 022 && "$root/scripts/package.sh" --build-dir "$build" --out "$work/dist")"
[ "$archive_path" = "$work/dist/$archive" ] || fail "the script names $archive_path, not $archive"
[ -f "$work/dist/$archive" ] || fail "no archive"
[ -f "$work/dist/$archive.sha256" ] || fail "no checksum file"

expected="$(for entry in "" bin/ bin/korvane-mcp LICENSE README.md CHANGELOG.md docs/ docs/clients.md; do
  echo "korvane-mcp-$version/$entry"; done | LC_ALL=C sort)"
listed="$(tar -tzf "$work/dist/$archive")"
[ "$listed" = "$expected" ] || fail "archive holds, in this order:"$'\n'"$listed"$'\n'"expected:"$'\n'"$expected"
owners="$(tar -tvzf "$work/dist/$archive" | awk '{ print $1, $2 }' | sort -u)"
[ "$owners" = "$(printf '%s\n' "drwxr-xr-x 0/0" "-rw-r--r-- 0/0" "-rwxr-xr-x 0/0" | sort)" ] ||
  fail "modes and owners:"$'\n'"$owners"

(cd "$work/dist" && sha256sum -c --status "$archive.sha256") || fail "sha256sum -c"
cp "$work/dist/$archive" "$work/changed.tar.gz"
printf 'x' >> "$work/changed.tar.gz"
sed "s/$archive/changed.tar.gz/" "$work/dist/$archive.sha256" > "$work/changed.tar.gz.sha256"
! (cd "$work" && sha256sum -c --status changed.tar.gz.sha256 2>/dev/null) || fail "a changed archive passes sha256sum -c"

# Every member carries the source's time; the second packing starts in a later second, so that
# the time of packing, wherever it leaks in, changes the bytes.
source_time="${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || true)}"
times="$(TZ=UTC tar --full-time -tvzf "$work/dist/$archive" | awk '{ print $4, $5 }' | sort -u)"
[ -z "$source_time" ] || [ "$times" = "$(TZ=UTC date -d "@$source_time" '+%Y-%m-%d %H:%M:%S')" ] ||
  fail "members carry $times, not the source's time"
sleep 1
(umask 002 && "$root/scripts/package.sh" --build-dir "$build" --out "$work/again" >/dev/null)
[ "$(cut -d' ' -f1 "$work/again/$archive.sha256")" = "$(cut -d' ' -f1 "$work/dist/$archive.sha256")" ] ||
  fail "a second packing gives other bytes:"$'\n'"$(tar -tvzf "$work/dist/$archive")"$'\n'"$(tar -tvzf "$work/again/$archive")"

tar -C "$work" -xzf "$work/dist/$archive"
packed="$work/korvane-mcp-$version/bin/korvane-mcp"
[ "$("$packed" --version </dev/null)" = "korvane-mcp $version" ] || fail "the packed server does not print its version"
! readelf -d "$packed" | grep -q NEEDED || fail "the packed server needs shared libraries"
! readelf -S "$packed" | grep -q '\.symtab' || fail "the packed server is not stripped"
cmp -s "$root/docs/clients.md" "$work/korvane-mcp-$version/docs/clients.md" || fail "docs/clients.md differs"
echo "ok: $archive, $(cut -d' ' -f1 "$work/dist/$archive.sha256") twice"
