#include "command_line.h"

#include <algorithm>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "command_output.h"
#include "common/quote.h"
#include "common/stdout_failure.h"
#include "common/version.h"
#include "diagnostics/check.h"
#include "print_config.h"

namespace korvane {
namespace {

constexpr std::string_view kProgramName = "korvane-mcp";

using Arguments = std::span<const std::string_view>;  // those after the option

struct Option {
  std::string_view name;
  std::string_view short_name;  // empty when there is none
  std::string_view operands;    // shown after the name in --help
  std::string_view summary;     // one line in --help
  bool takes_operands;          // else any argument after it is left alone
  int (*run)(Arguments);
};

int print_version(Arguments);
int print_help(Arguments);
int check(Arguments);

// One row per option; --help lists them in this order.
constexpr Option kOptions[] = {
    {"--version", "-V", "", "print the name and version, and exit", false, print_version},
    {"--help", "-h", "", "print this help, and exit", false, print_help},
    {"--check", "", "", "check the way to the desktop app and report each step, then exit", false, check},
    {"--print-config", "", " [CLIENT [--add-command]]",
     "print an agent client's entry for this binary (the clients, without CLIENT)", true, run_print_config},
};

int print_version(Arguments) { return print(std::string(kProgramName) + " " + std::string(kServerVersion) + "\n"); }

// The report's status, unless it could not be written: that ends the process as any failed write.
int check(Arguments) {
  const int status = run_check();
  if (const auto& failure = stdout_unwritable()) exit_stdout_unwritable(*failure);
  return status;
}

std::string option_title(const Option& option) {
  std::string title(option.short_name);
  if (!title.empty()) title += ", ";
  return title + std::string(option.name) + std::string(option.operands);
}

std::string option_lines() {
  std::size_t width = 0;
  for (const Option& option : kOptions) width = std::max(width, option_title(option).size());
  std::string lines;
  for (const Option& option : kOptions) {
    const std::string title = option_title(option);
    lines += "  " + title + std::string(width - title.size() + 2, ' ') + std::string(option.summary) + "\n";
  }
  return lines;
}

int print_help(Arguments) {
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
               "Without an option it serves MCP on standard input and output; arguments that do not begin\n"
               "with '-' are ignored, and so is everything after '--'.\n"
               "\n"
               "environment:\n"
               "  KORVANE_SOCKET_INFO  path of the app's socket-info file (port and token)\n"
               "  KORVANE_SESSION_ID   id of the app's session the agent runs in (the app sets it)\n"
               "  HOME                 the socket-info file is $HOME/.config/korvane/socket-info.json\n"
               "  TMPDIR               used in place of HOME when HOME is unset\n"
               "  KORVANE_MCP_TRACE    a file to append a JSON record of every message and app exchange to\n");
}

const Option* find_option(std::string_view argument) {
  for (const Option& option : kOptions) {
    if (argument == option.name || (!option.short_name.empty() && argument == option.short_name)) return &option;
  }
  return nullptr;
}

}  // namespace

std::optional<int> run_command_line(int argc, const char* const* argv) {
  const std::vector<std::string_view> arguments(argv + std::min(argc, 1), argv + argc);
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string_view argument = arguments[i];
    if (argument == "--") break;
    if (argument.size() < 2 || argument[0] != '-') continue;  // "-" is no option either
    const Option* option = find_option(argument);
    if (option == nullptr) return usage_error("unknown option " + quoted_text(argument));
    const Arguments rest = option->takes_operands ? Arguments(arguments).subspan(i + 1) : Arguments();
    return option->run(rest);
  }
  return std::nullopt;
}

}  // namespace korvane
