#include "common/stdout_failure.h"

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "common/posix.h"

namespace korvane {

void exit_stdout_unwritable(std::string_view reason) {
  std::string diagnostic = "korvane-mcp: cannot write to standard output: ";
  diagnostic += reason;
  diagnostic += '\n';
  (void)write_all(STDERR_FILENO, diagnostic);
  std::_Exit(1);
}

}  // namespace korvane
