#!/usr/bin/env bash
# The smallest address-space limit (prlimit --as, to 64 KiB) at which a server still relays one
# screen_ocr call that the stand-in app answers with a given reply.
# usage: bench/address-space.sh SERVER REPLY.json [STANDIN]
#   (replies of each shape: build-bench/bench/korvane-bench --write-replies DIR)
set -euo pipefail
server="$1"
reply="$2"
root="$(cd "$(dirname "$0")/.." && pwd)"
standin="${3:-$root/build-bench/standin/korvane-standin-app}"
dir="$(mktemp -d "${TMPDIR:-/tmp}/korvane-as.XXXXXX")"
app=""
cleanup() {
  exec 9>&- 2>/dev/null || true
  [[ -z $app ]] || wait "$app" 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT
echo '{"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"screen_ocr","arguments":{}}}' >"$dir/in"
mkfifo "$dir/app.in"
"$standin" --socket-info "$dir/socket-info.json" --mode body-file --body-file "$reply" --exit-on-stdin-eof \
  <"$dir/app.in" >"$dir/app.out" 2>&1 &
app=$!
exec 9>"$dir/app.in"
until grep -q ready "$dir/app.out" 2>/dev/null; do sleep 0.05; done
reply_bytes="$(wc -c <"$reply")"

relays() {  # limit in KiB
  KORVANE_SOCKET_INFO="$dir/socket-info.json" prlimit --as=$(($1 * 1024)) "$server" <"$dir/in" >"$dir/out" 2>/dev/null || true
  grep -q '"result":{"content":\[{"text":"' "$dir/out" && (($(wc -c <"$dir/out") > reply_bytes))
}

low=1024 high=$((64 * 1024 * 1024 / 1024 * 16))  # 1 MiB .. 1 GiB
relays "$high" || { echo "does not relay even with $high KiB"; exit 1; }
while ((high - low > 64)); do
  middle=$(((low + high) / 2))
  if relays "$middle"; then high=$middle; else low=$middle; fi
done
echo "$(basename "$reply") ($reply_bytes bytes): relays with an address-space limit of $high KiB ($(awk -v k="$high" -v b="$reply_bytes" 'BEGIN { printf "%.1f MiB, %.2fx the reply", k / 1024, k * 1024 / b }'))"
