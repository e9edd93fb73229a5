// Every client's entry is a valid text of its format that names the server's path exactly and
// only the keys that client documents, its add command survives the shell, and the pages show
// the very bytes --print-config prints.
#include "setup/client_entries.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "files.h"
#include "platform/executable_path.h"

namespace korvane::setup {
namespace {

using nlohmann::json;

// A path with what each format and the shell must escape: quotes, a backslash, a space, a tab,
// DEL, and a character beyond ASCII.
const std::string kAwkwardPath = "/Users/A \"B\" O'Neil/\\bin\t\x7f/kørvane-mcp";
constexpr std::string_view kDocumentedPath = "/opt/homebrew/bin/korvane-mcp";

// What each client's documentation names for a stdio server: where the entry sits, the keys it
// reads, and the form in which the session id is passed through (empty: not passed).
struct Schema {
  std::string_view client;
  std::string_view server;  // JSON pointer of the server's object
  std::set<std::string> keys;
  std::string_view variables_key;
  std::string_view session_id_form;
};

const Schema kSchemas[] = {
    {"claude-code",
     "/mcpServers/korvane",
     {"type", "command", "args", "env", "timeout"},
     "env",
     "${KORVANE_SESSION_ID:-}"},
    {"gemini-cli",
     "/mcpServers/korvane",
     {"command", "args", "env", "cwd", "timeout", "trust", "includeTools", "excludeTools", "description"},
     "env",
     "$KORVANE_SESSION_ID"},
    {"cursor",
     "/mcpServers/korvane",
     {"type", "command", "args", "env", "envFile"},
     "env",
     "${env:KORVANE_SESSION_ID}"},
    {"vscode",
     "/servers/korvane",
     {"type", "command", "args", "env", "envFile", "cwd"},
     "env",
     "${env:KORVANE_SESSION_ID}"},
    {"copilot-cli",
     "/mcpServers/korvane",
     {"type", "command", "args", "env", "tools", "cwd"},
     "env",
     "${KORVANE_SESSION_ID}"},
    {"opencode",
     "/mcp/korvane",
     {"type", "command", "environment", "enabled", "timeout"},
     "environment",
     "{env:KORVANE_SESSION_ID}"},
    {"zed", "/context_servers/korvane", {"source", "command", "args", "env", "timeout"}, "env", ""},
    {"claude-desktop", "/mcpServers/korvane", {"command", "args", "env"}, "env", ""},
};

TEST(ClientEntries, JsonEntriesHoldThePathAndOnlyDocumentedKeys) {
  for (const Schema& schema : kSchemas) {
    SCOPED_TRACE(schema.client);
    const ClientEntry* client = find_client(schema.client);
    ASSERT_NE(client, nullptr);
    ASSERT_EQ(client->format, EntryFormat::json);
    const Outcome<std::string> text = render_entry(*client, kAwkwardPath);
    ASSERT_TRUE(text.ok());
    const json entry = json::parse(text.value());
    const json& server = entry.at(json::json_pointer(std::string(schema.server)));
    for (const auto& [key, value] : server.items()) EXPECT_TRUE(schema.keys.contains(key)) << key;
    const json& command = server.at("command");
    EXPECT_EQ(command.is_array() ? command.at(0) : command, kAwkwardPath);
    const json variables = server.value(std::string(schema.variables_key), json::object());
    if (schema.session_id_form.empty()) {
      EXPECT_FALSE(variables.contains("KORVANE_SESSION_ID"));
    } else {
      EXPECT_EQ(variables.value("KORVANE_SESSION_ID", ""), schema.session_id_form);
    }
    EXPECT_FALSE(variables.contains("KORVANE_SOCKET_INFO")) << "an unset variable would become an empty path";
  }
}

// The TOML entry: a table header, then `key = value` lines whose values are basic strings,
// arrays of them or integers, which read the same as JSON.
TEST(ClientEntries, TheTomlEntryIsATableOfDocumentedKeys) {
  const ClientEntry* codex = find_client("codex-cli");
  ASSERT_NE(codex, nullptr);
  const Outcome<std::string> text = render_entry(*codex, kAwkwardPath);
  ASSERT_TRUE(text.ok());
  std::istringstream lines(text.value());
  std::string line;
  ASSERT_TRUE(std::getline(lines, line));
  EXPECT_EQ(line, "[mcp_servers.korvane]");
  const std::set<std::string> documented = {
      "command", "args", "env", "env_vars", "cwd", "startup_timeout_sec", "tool_timeout_sec", "enabled"};
  std::map<std::string, json> values;
  static const std::regex pair(R"(^([a-z_]+) = (.+)$)");
  while (std::getline(lines, line)) {
    std::smatch cells;
    ASSERT_TRUE(std::regex_match(line, cells, pair)) << line;
    EXPECT_TRUE(documented.contains(cells[1])) << line;
    EXPECT_EQ(line.find('\x7f'), std::string::npos) << "TOML wants DEL escaped";
    values[cells[1]] = json::parse(cells[2].str());
  }
  EXPECT_EQ(values["command"], kAwkwardPath);
  EXPECT_EQ(values["env_vars"], json({"KORVANE_SESSION_ID", "KORVANE_SOCKET_INFO"}));
  EXPECT_GT(values["tool_timeout_sec"].get<int>(), 600);
}

TEST(ClientEntries, APathThatIsNoUtf8TextIsRefused) {
  for (const ClientEntry& client : client_entries()) {
    EXPECT_FALSE(render_entry(client, "/opt/\xff/korvane-mcp").ok()) << client.name;
    if (!client.add_command.empty()) {
      EXPECT_FALSE(render_add_command(client, "/opt/\xff/korvane-mcp").ok());
    }
  }
}

// sh reads the add command, with the client's program replaced by a function that prints its
// words: the path arrives as one word, unchanged.
TEST(ClientEntries, AddCommandsPassThePathAsOneWord) {
  int with_command = 0;
  for (const ClientEntry& client : client_entries()) {
    if (client.add_command.empty()) continue;
    ++with_command;
    const Outcome<std::string> command = render_add_command(client, kAwkwardPath);
    ASSERT_TRUE(command.ok());
    const std::string program(client.add_command.substr(0, client.add_command.find(' ')));
    const std::string script = program + "() { printf '%s\\n' \"$@\"; }\n" + command.value();
    const std::filesystem::path file = std::filesystem::temp_directory_path() / "korvane-add-command.sh";
    std::ofstream(file) << script;
    FILE* shell = ::popen(("sh " + file.string()).c_str(), "r");
    ASSERT_NE(shell, nullptr);
    std::string words;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, shell) != nullptr) words += buffer;
    EXPECT_EQ(::pclose(shell), 0);
    std::filesystem::remove(file);
    EXPECT_NE(words.find("\n" + kAwkwardPath + "\n"), std::string::npos) << client.name << ":\n" << words;
  }
  EXPECT_EQ(with_command, 2);
}

// A program installed by Homebrew is named by the link that outlives upgrades, only when that link
// leads to the very file.
TEST(ClientEntries, AVersionedKegIsNamedByItsLastingLink) {
  struct Case {
    std::string label, program, link_target, expected;  // relative to a scratch prefix; "" for none
  };
  const std::string keg = "Cellar/korvane-mcp/0.28.0/bin/korvane-mcp";
  const Case cases[] = {
      {"the link leads to the keg", keg, keg, "bin/korvane-mcp"},
      {"no link", keg, "", keg},
      {"the link leads elsewhere", keg, "other/korvane-mcp", keg},
      {"deeper in the keg", "Cellar/korvane-mcp/0.28.0/libexec/bin/korvane-mcp", "",
       "Cellar/korvane-mcp/0.28.0/libexec/bin/korvane-mcp"},
      {"no keg", "opt/korvane/bin/korvane-mcp", "", "opt/korvane/bin/korvane-mcp"},
  };
  for (const Case& c : cases) {
    const testing_support::TempDir dir;
    const std::filesystem::path prefix = std::filesystem::canonical(dir.path());
    for (const std::string& file : {c.program, std::string("other/korvane-mcp")}) {
      std::filesystem::create_directories((prefix / file).parent_path());
      std::ofstream(prefix / file) << "#!/bin/sh\n";
    }
    if (!c.link_target.empty()) {
      std::filesystem::create_directories(prefix / "bin");
      std::filesystem::create_symlink(prefix / c.link_target, prefix / "bin/korvane-mcp");
    }
    EXPECT_EQ(platform::lasting_link((prefix / c.program).string()), (prefix / c.expected).string()) << c.label;
  }
}

// ---------------------------------------------------------------------------------------------
// The pages: every fenced block tagged `client=<name>` shows what --print-config prints with the
// documented path, a block naming a file the entry, a command block the add command (a block
// tagged `check` is how to see the server connected, run by the client suite).

struct PageBlock {
  std::string where;
  std::string client{};
  bool is_file = false;
  bool is_check = false;
  std::string text{};
};

std::vector<PageBlock> tagged_blocks(const std::string& page) {
  const std::filesystem::path path = std::filesystem::path(KORVANE_SOURCE_DIR) / page;
  std::ifstream in(path);
  EXPECT_TRUE(in) << path;
  static const std::regex opening(R"(^```(.*)$)");
  static const std::regex field(R"(([\w-]+)=(?:"[^"]*"|\S+)|(\bcheck\b))");
  std::vector<PageBlock> blocks;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    std::smatch info;
    if (!std::regex_match(line, info, opening)) continue;
    PageBlock block{page + ":" + std::to_string(number)};
    const std::string tags = info[1];
    for (std::sregex_iterator it(tags.begin(), tags.end(), field), end; it != end; ++it) {
      const std::string whole = (*it)[0];
      if ((*it)[2].matched) block.is_check = true;
      if (whole.starts_with("client=")) block.client = whole.substr(7);
      if (whole.starts_with("file=")) block.is_file = true;
    }
    while (std::getline(in, line) && (++number, line != "```")) block.text += line + "\n";
    if (!block.client.empty()) blocks.push_back(block);
  }
  return blocks;
}

TEST(ClientEntries, PagesShowExactlyWhatPrintConfigPrints) {
  std::map<std::string, std::set<std::string>> shown;  // client -> "entry", "command", "check"
  for (const std::string page : {"docs/clients.md", "README.md"}) {
    for (const PageBlock& block : tagged_blocks(page)) {
      SCOPED_TRACE(block.where);
      const ClientEntry* client = find_client(block.client);
      ASSERT_NE(client, nullptr) << block.client;
      if (block.is_check) {
        if (page == "docs/clients.md") shown[block.client].insert("check");
        continue;
      }
      const Outcome<std::string> printed =
          block.is_file ? render_entry(*client, kDocumentedPath) : render_add_command(*client, kDocumentedPath);
      ASSERT_TRUE(printed.ok()) << printed.error();
      EXPECT_EQ(block.text, printed.value());
      if (page == "docs/clients.md") shown[block.client].insert(block.is_file ? "entry" : "command");
    }
  }
  // The clients with a command line of their own show the server with it; the others in a window.
  const std::set<std::string_view> with_check_command = {"claude-code", "codex-cli", "gemini-cli", "copilot-cli",
                                                         "opencode"};
  for (const ClientEntry& client : client_entries()) {
    std::set<std::string> expected = {"entry"};
    if (!client.add_command.empty()) expected.insert("command");
    if (with_check_command.contains(client.name)) expected.insert("check");
    EXPECT_EQ(shown[std::string(client.name)], expected) << client.name << " in docs/clients.md";
  }
}

}  // namespace
}  // namespace korvane::setup
