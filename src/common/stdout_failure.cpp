#include "common/stdout_failure.h"

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "common/posix.h"

namespace korvane {
namespace {

// Like the stream it describes, the one state that lives as long as the process.
std::optional<std::string>& unwritable() {
  static std::optional<std::string> reason;
  return reason;
}

}  // namespace

void note_stdout_unwritable(std::string_view reason) {
  if (!unwritable()) unwritable().emplace(reason);
}

const std::optional<std::string>& stdout_unwritable() { return unwritable(); }

void exit_stdout_unwritable(std::string_view reason) {
  std::string diagnostic = "korvane-mcp: cannot write to standard output: ";
  diagnostic += reason;
  diagnostic += '\n';
  (void)write_all(STDERR_FILENO, diagnostic);
  std::_Exit(1);
}

}  // namespace korvane
