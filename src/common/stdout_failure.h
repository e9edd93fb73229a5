// The one way the process ends when its answers can no longer be delivered.
#pragma once

#include <string_view>

namespace korvane {

// Writes "korvane-mcp: cannot write to standard output: <reason>" and a line break to standard
// error and ends the process with status 1. The reason is an os_error_text.
[[noreturn]] void exit_stdout_unwritable(std::string_view reason);

}  // namespace korvane
