// The entry that registers korvane-mcp with each agent client, one row per client: the text its
// configuration file takes, and the command that adds it where the client has one. `korvane-mcp
// --print-config` prints them with this binary's path, and the pages show the same bytes.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "base/outcome.h"

namespace korvane::setup {

enum class EntryFormat { json, toml };

struct ClientEntry {
  std::string_view name;         // what --print-config takes: "claude-code"
  std::string_view title;        // "Claude Code"
  std::string_view destination;  // where the entry goes, for the list
  EntryFormat format;
  std::string_view entry;        // the configuration text; kServerPlaceholder stands for the path
  std::string_view add_command;  // a shell command line, or empty when the client has none
};

// Stands in the rows' texts for the server's path, quoted as each text needs it.
inline constexpr std::string_view kServerPlaceholder = "@SERVER@";

std::span<const ClientEntry> client_entries();

// The row of that name, or nullptr.
const ClientEntry* find_client(std::string_view name);

// The entry with the server's path written in as a string of its format (escaped), ending in a
// line break. Fails when the path is no UTF-8 text, which neither format can hold.
Outcome<std::string> render_entry(const ClientEntry& client, std::string_view server_path);

// The add command with the path as one shell word, ending in a line break. Fails as above, and
// for a client without an add command.
Outcome<std::string> render_add_command(const ClientEntry& client, std::string_view server_path);

// The names, one line each with the client and where its entry goes, in the table's order.
std::string client_list();

}  // namespace korvane::setup
