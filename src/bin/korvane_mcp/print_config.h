// korvane-mcp --print-config: the entry that registers this binary with an agent client.
#pragma once

#include <span>
#include <string_view>

namespace korvane {

// With no argument the list of clients; with a client's name its entry; with the name and
// --add-command the command that adds it. Status 0, 1 when this binary's path cannot be told,
// 2 for a usage error (an unknown client, a client without an add command).
int run_print_config(std::span<const std::string_view> arguments);

}  // namespace korvane
