#!/usr/bin/env bash
# Starts the stand-in desktop app and drives the server through a short session, printing each
# exchange: the request after "->", the response after "<-".
set -euo pipefail
cd "$(dirname "$0")/.."
server=${KORVANE_MCP_BINARY:-build/korvane-mcp}
app=${KORVANE_STANDIN_BINARY:-build/standin/korvane-standin-app}

work=$(mktemp -d)
app_pid=
server_pid=
cleanup() {
  exec 3>&- 4<&- 2>/dev/null || true
  if [[ -n $server_pid ]]; then wait "$server_pid" 2>/dev/null || true; fi
  [[ -n $app_pid ]] && { kill "$app_pid" 2>/dev/null; wait "$app_pid" 2>/dev/null || true; }
  rm -rf "$work"
}
trap cleanup EXIT

start_app() {  # starts the stand-in app with the given options and waits until it listens
  "$app" --socket-info "$work/socket-info.json" ${1+"$@"} >"$work/app.out" &
  app_pid=$!
  for _ in $(seq 100); do
    grep -q '^ready' "$work/app.out" 2>/dev/null && break
    sleep 0.05
  done
  echo "== stand-in desktop app: $(cat "$work/app.out") (options: ${*:-none})"
}

stop_app() {
  kill "$app_pid" 2>/dev/null || true
  wait "$app_pid" 2>/dev/null || true
  app_pid=
}

exchange() {  # $1: one request line; a second argument "silent" when no answer is due
  printf -- '-> %s\n' "$1"
  printf '%s\n' "$1" >&3
  if [[ ${2:-} != silent ]]; then
    local reply
    IFS= read -r reply <&4
    printf -- '<- %s\n\n' "$reply"
  else
    printf '   (no answer: no id)\n\n'
  fi
}

call() {  # $1: id, $2: tool name, $3: arguments
  exchange "{\"jsonrpc\":\"2.0\",\"id\":$1,\"method\":\"tools/call\",\"params\":{\"name\":\"$2\",\"arguments\":$3}}"
}

export KORVANE_SOCKET_INFO="$work/socket-info.json"
export KORVANE_SESSION_ID=s1
mkfifo "$work/in" "$work/out"
"$server" <"$work/in" >"$work/out" &
server_pid=$!
exec 3>"$work/in" 4<"$work/out"

echo "== the handshake and the catalogue"
exchange '{"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2024-11-05","capabilities":{},"clientInfo":{"name":"demo","version":"1"}}}'
exchange '{"jsonrpc":"2.0","method":"notifications/initialized"}' silent
printf -- '-> %s\n' '{"jsonrpc":"2.0","id":2,"method":"tools/list"}'
printf '%s\n' '{"jsonrpc":"2.0","id":2,"method":"tools/list"}' >&3
IFS= read -r reply <&4
printf -- '<- %s... (%d bytes, %d tools)\n\n' "${reply:0:160}" "${#reply}" "$(grep -o '"name":"' <<<"$reply" | wc -l)"

echo "== malformed lines and protocol errors"
exchange 'hello'
exchange '{"jsonrpc":"1.0","id":3,"method":"initialize"}'
exchange '{"jsonrpc":"2.0","id":4,"method":"ping"}'
exchange '{"jsonrpc":"2.0","id":5,"method":"tools/call","params":{"arguments":{}}}'

echo "== tool calls while the desktop app is not running"
call 6 screenshot '{}'

start_app
echo "== session forward (the caller session id is added)"
call 7 sessions_list '{}'
call 8 session_spawn '{"agent":"codex","label":"helper"}'
call 9 session_read '{"id":"s2"}'
echo "== built params"
call 10 open_dev_preview '{"url":"http://localhost:3000"}'
call 11 notify '{"title":"Build","body":"finished"}'
echo "== method only (arguments are dropped)"
call 12 screenshot '{"ignored":true}'
echo "== plain forward"
call 13 click '{"x":10,"y":20}'
call 14 type_text '{"text":"hello"}'
echo "== routing errors"
call 15 Click '{"x":1,"y":2}'
call 16 open_markdown '{}'
call 17 notify '{"title":"only a title"}'
stop_app

echo "== channel errors"
start_app --mode refuse
call 18 click '{"x":1,"y":2}'
stop_app
start_app --mode non-json
call 19 click '{"x":1,"y":2}'
stop_app
