#!/usr/bin/env bash
# shellcheck disable=SC2016,SC2034  # check() evaluates its quoted condition, which names these variables
# Packs the release archive from the test build and checks what a user gets: exactly the
# documented files under korvane-mcp-<version>/, a checksum file that sha256sum accepts, and a
# packed server that is static, stripped and prints its version.
#   package_test.sh BUILD_DIR VERSION
set -euo pipefail
build="$1"
version="$2"
root="$(cd "$(dirname "$0")/../.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
check() { if ! eval "$1"; then echo "FAILED: $2" >&2; exit 1; fi; }

archive_path="$("$root/scripts/package.sh" --build-dir "$build" --out "$work/dist")"
archive="korvane-mcp-$version-linux-$(uname -m).tar.gz"
check '[ "$archive_path" = "$work/dist/$archive" ]' "the script names $archive_path, not $archive"
check '[ -f "$work/dist/$archive" ] && [ -f "$work/dist/$archive.sha256" ]' "archive or checksum missing"

expected="$(for entry in "" bin/ bin/korvane-mcp LICENSE README.md CHANGELOG.md docs/ docs/clients.md; do
  echo "korvane-mcp-$version/$entry"; done | sort)"
listed="$(tar -tzf "$work/dist/$archive" | sort)"
check '[ "$listed" = "$expected" ]' "archive holds:"$'\n'"$listed"$'\n'"expected:"$'\n'"$expected"

(cd "$work/dist" && sha256sum -c --status "$archive.sha256") || { echo "FAILED: sha256sum -c" >&2; exit 1; }
cp "$work/dist/$archive" "$work/dist/$archive.orig"
printf 'x' >> "$work/dist/$archive"
check '! (cd "$work/dist" && sha256sum -c --status "$archive.sha256" 2>/dev/null)' "a changed archive passes sha256sum -c"
mv "$work/dist/$archive.orig" "$work/dist/$archive"

tar -C "$work" -xzf "$work/dist/$archive"
packed="$work/korvane-mcp-$version/bin/korvane-mcp"
check '[ "$("$packed" --version </dev/null)" = "korvane-mcp $version" ]' "the packed server does not print its version"
check '! readelf -d "$packed" | grep -q NEEDED' "the packed server needs shared libraries"
check '! readelf -S "$packed" | grep -q "\.symtab"' "the packed server is not stripped"
check 'cmp -s "$root/docs/clients.md" "$work/korvane-mcp-$version/docs/clients.md"' "docs/clients.md differs"
echo "ok: $archive"
