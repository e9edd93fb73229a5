#include "command_output.h"

#include <unistd.h>

#include "common/posix.h"
#include "common/stdout_failure.h"

namespace korvane {
namespace {

int say(const std::string& line, int status) {
  (void)write_all(STDERR_FILENO, "korvane-mcp: " + line + "\n");
  return status;
}

}  // namespace

int print(const std::string& text) {
  if (auto written = write_all(STDOUT_FILENO, text); !written) exit_stdout_unwritable(written.error());
  return 0;
}

int usage_error(const std::string& problem, std::string_view hint) {
  return say(problem + "; " + std::string(hint), 2);
}

int fail(const std::string& problem) { return say(problem, 1); }

}  // namespace korvane
