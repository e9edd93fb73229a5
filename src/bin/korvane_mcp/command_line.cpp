#include "command_line.h"

#include <unistd.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "common/posix.h"
#include "common/stdout_failure.h"
#include "common/version.h"
#include "diagnostics/check.h"

namespace korvane {
namespace {

constexpr std::string_view kProgramName = "korvane-mcp";

struct Option {
  std::string_view name;
  std::string_view summary;  // one line in --help
  int (*run)();
};

int print_version();
int print_help();

// One row per option; --help lists them in this order.
constexpr Option kOptions[] = {
    {"--version", "print the name and version, and exit", print_version},
    {"--help", "print this help, and exit", print_help},
    {"--check", "check the way to the desktop app and report each step, then exit", run_check},
};

// Writes the text to standard output; exit status 0 (a failed write ends the process as any does).
int print(const std::string& text) {
  if (auto written = write_all(STDOUT_FILENO, text); !written) exit_stdout_unwritable(written.error());
  return 0;
}

int print_version() { return print(std::string(kProgramName) + " " + std::string(kServerVersion) + "\n"); }

std::string option_lines() {
  std::size_t width = 0;
  for (const Option& option : kOptions) width = std::max(width, option.name.size());
  std::string lines;
  for (const Option& option : kOptions) {
    lines += "  " + std::string(option.name) + std::string(width - option.name.size() + 2, ' ') +
             std::string(option.summary) + "\n";
  }
  return lines;
}

int print_help() {
  return print(std::string(kProgramName) + " " + std::string(kServerVersion) +
               ": an MCP server that gives an AI coding agent the tools of the korvane desktop app\n"
               "(agent sessions, viewers, notifications, screenshots, OCR, mouse and keyboard).\n"
               "\n"
               "An agent client (Claude Code, Codex, ...) starts it as a child process and speaks MCP to it\n"
               "over standard input and output: JSON-RPC 2.0, one JSON text per line. Every tool call is\n"
               "relayed to the desktop app on 127.0.0.1.\n"
               "\n"
               "usage: " +
               std::string(kProgramName) + " [option]\n" + option_lines() +
               "Without an option it serves MCP on standard input and output; other arguments are ignored.\n"
               "\n"
               "environment:\n"
               "  KORVANE_SOCKET_INFO  path of the app's socket-info file (port and token)\n"
               "  KORVANE_SESSION_ID   id of the app's session the agent runs in (the app sets it)\n"
               "  HOME                 the socket-info file is $HOME/.config/korvane/socket-info.json\n"
               "  TMPDIR               used in place of HOME when HOME is unset\n"
               "  KORVANE_MCP_TRACE    a file to append a JSON record of every message and app exchange to\n");
}

}  // namespace

std::optional<int> run_command_line(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    for (const Option& option : kOptions) {
      if (argument == option.name) return option.run();
    }
  }
  return std::nullopt;
}

}  // namespace korvane
