#include "print_config.h"

#include <cerrno>
#include <optional>
#include <string>

#include "command_output.h"
#include "common/quote.h"
#include "platform/executable_path.h"
#include "platform/os_error.h"
#include "setup/client_entries.h"

namespace korvane {
namespace {

constexpr std::string_view kAddCommand = "--add-command";

int print_list() {
  return print("korvane-mcp --print-config CLIENT [--add-command] prints the entry for one of:\n" +
               setup::client_list());
}

int print_for(const setup::ClientEntry& client, bool add_command) {
  const std::optional<std::string> path = platform::executable_path();
  if (!path) return fail("cannot tell the path of this program: " + os_error_text(errno));
  const Outcome<std::string> text =
      add_command ? setup::render_add_command(client, *path) : setup::render_entry(client, *path);
  if (!text) {
    return add_command ? usage_error(text.error(),
                                     "paste what korvane-mcp --print-config " + std::string(client.name) + " prints")
                       : fail(text.error());
  }
  return print(text.value());
}

}  // namespace

int run_print_config(std::span<const std::string_view> arguments) {
  if (arguments.empty()) return print_list();
  const setup::ClientEntry* client = setup::find_client(arguments[0]);
  if (client == nullptr) {
    return usage_error("unknown client " + quoted_text(arguments[0]), "korvane-mcp --print-config lists them");
  }
  const bool add_command = arguments.size() > 1 && arguments[1] == kAddCommand;
  const std::size_t used = add_command ? 2 : 1;
  if (arguments.size() > used) {
    return usage_error("unexpected argument " + quoted_text(arguments[used]),
                       "usage: korvane-mcp --print-config [CLIENT [--add-command]]");
  }
  return print_for(*client, add_command);
}

}  // namespace korvane
