#include "setup/client_entries.h"

#include <algorithm>

#include "common/utf8.h"
#include "json/write/writer.h"

namespace korvane::setup {
namespace {

// Each client's session id is passed through from its own environment in the form it expands
// (never written as a value); KORVANE_SOCKET_INFO is named only where an unset variable stays
// unset. Time-outs leave session_wait's 600 s room to answer.
constexpr ClientEntry kClients[] = {
    {"claude-code", "Claude Code", "./.mcp.json, or \"mcpServers\" in ~/.claude.json", EntryFormat::json,
     R"({
  "mcpServers": {
    "korvane": {
      "command": @SERVER@,
      "args": [],
      "env": {
        "KORVANE_SESSION_ID": "${KORVANE_SESSION_ID:-}"
      }
    }
  }
})",
     "claude mcp add --scope user korvane --env 'KORVANE_SESSION_ID=${KORVANE_SESSION_ID:-}' -- @SERVER@"},
    {"codex-cli", "Codex CLI", "~/.codex/config.toml", EntryFormat::toml,
     R"([mcp_servers.korvane]
command = @SERVER@
args = []
env_vars = ["KORVANE_SESSION_ID", "KORVANE_SOCKET_INFO"]
tool_timeout_sec = 660)",
     ""},
    {"gemini-cli", "Gemini CLI", "~/.gemini/settings.json", EntryFormat::json,
     R"({
  "mcpServers": {
    "korvane": {
      "command": @SERVER@,
      "args": [],
      "env": {
        "KORVANE_SESSION_ID": "$KORVANE_SESSION_ID"
      },
      "timeout": 660000
    }
  }
})",
     "gemini mcp add --scope user --timeout 660000 korvane @SERVER@ -e 'KORVANE_SESSION_ID=$KORVANE_SESSION_ID'"},
    {"cursor", "Cursor", "~/.cursor/mcp.json", EntryFormat::json,
     R"({
  "mcpServers": {
    "korvane": {
      "command": @SERVER@,
      "args": [],
      "env": {
        "KORVANE_SESSION_ID": "${env:KORVANE_SESSION_ID}"
      }
    }
  }
})",
     ""},
    {"vscode", "VS Code (Copilot)", "./.vscode/mcp.json, or the profile's mcp.json", EntryFormat::json,
     R"({
  "servers": {
    "korvane": {
      "type": "stdio",
      "command": @SERVER@,
      "args": [],
      "env": {
        "KORVANE_SESSION_ID": "${env:KORVANE_SESSION_ID}"
      }
    }
  }
})",
     ""},
    {"copilot-cli", "Copilot CLI", "~/.copilot/mcp-config.json", EntryFormat::json,
     R"({
  "mcpServers": {
    "korvane": {
      "type": "local",
      "command": @SERVER@,
      "args": [],
      "env": {
        "KORVANE_SESSION_ID": "${KORVANE_SESSION_ID}"
      },
      "tools": ["*"]
    }
  }
})",
     ""},
    {"opencode", "opencode", "./opencode.json", EntryFormat::json,
     R"({
  "$schema": "https://opencode.ai/config.json",
  "mcp": {
    "korvane": {
      "type": "local",
      "command": [@SERVER@],
      "environment": {
        "KORVANE_SESSION_ID": "{env:KORVANE_SESSION_ID}"
      }
    }
  }
})",
     ""},
    {"zed", "Zed", "~/.config/zed/settings.json", EntryFormat::json,
     R"({
  "context_servers": {
    "korvane": {
      "source": "custom",
      "command": @SERVER@,
      "args": [],
      "env": {},
      "timeout": 660
    }
  }
})",
     ""},
    {"claude-desktop", "Claude Desktop", "claude_desktop_config.json (in ~/Library/Application Support/Claude/)",
     EntryFormat::json,
     R"({
  "mcpServers": {
    "korvane": {
      "command": @SERVER@,
      "args": []
    }
  }
})",
     ""},
};

// A JSON string, which is also a TOML basic string: TOML reads the same escapes, and wants DEL
// escaped besides.
std::string string_literal(std::string_view text) {
  std::string literal = "\"";
  for (const char byte : text) {
    if (byte == '\x7f') {
      literal += "\\u007f";
    } else if (byte == '"' || byte == '\\' || static_cast<unsigned char>(byte) < 0x20) {
      char buffer[6];
      literal += json::escape_of(byte, buffer);
    } else {
      literal += byte;
    }
  }
  return literal + '"';
}

// One word for sh: as it is when nothing in it is special to the shell, else in single quotes.
std::string shell_word(std::string_view text) {
  const bool plain = !text.empty() && std::all_of(text.begin(), text.end(), [](char byte) {
    return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
           std::string_view("/._+-,:@%").find(byte) != std::string_view::npos;
  });
  if (plain) return std::string(text);
  std::string word = "'";
  for (const char byte : text) word += byte == '\'' ? std::string("'\\''") : std::string(1, byte);
  return word + "'";
}

Outcome<std::string> with_server(std::string_view text, std::string_view server_path, const std::string& server) {
  if (!is_valid_utf8(server_path)) return error_text("the server's path is not valid UTF-8");
  const std::size_t at = text.find(kServerPlaceholder);
  std::string out(text.substr(0, at));
  out += server;
  out += text.substr(at + kServerPlaceholder.size());
  out += '\n';
  return out;
}

}  // namespace

std::span<const ClientEntry> client_entries() { return kClients; }

const ClientEntry* find_client(std::string_view name) {
  const auto* found = std::find_if(std::begin(kClients), std::end(kClients),
                                   [name](const ClientEntry& client) { return client.name == name; });
  return found == std::end(kClients) ? nullptr : found;
}

Outcome<std::string> render_entry(const ClientEntry& client, std::string_view server_path) {
  return with_server(client.entry, server_path, string_literal(server_path));
}

Outcome<std::string> render_add_command(const ClientEntry& client, std::string_view server_path) {
  if (client.add_command.empty()) {
    return error_text(std::string(client.title) + " has no command that adds a server");
  }
  return with_server(client.add_command, server_path, shell_word(server_path));
}

std::string client_list() {
  std::size_t width = 0;
  for (const ClientEntry& client : kClients) width = std::max(width, client.name.size());
  std::string list;
  for (const ClientEntry& client : kClients) {
    list += std::string(client.name) + std::string(width - client.name.size() + 2, ' ') + std::string(client.title) +
            ": " + std::string(client.destination) + (client.add_command.empty() ? "" : "; or --add-command") + "\n";
  }
  return list;
}

}  // namespace korvane::setup
