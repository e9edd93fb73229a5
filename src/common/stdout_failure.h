// Standard output that can no longer be written. Whatever finds it out (a failed write of the
// answers, a wait that sees nobody reading them any more) notes it and gives up its own work;
// main, and only main, ends the process on it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace korvane {

// Notes that standard output cannot be written; the first reason noted is the one kept. The
// reason is an os_error_text.
void note_stdout_unwritable(std::string_view reason);

// The reason noted, if any.
const std::optional<std::string>& stdout_unwritable();

// Writes "korvane-mcp: cannot write to standard output: <reason>" and a line break to standard
// error and ends the process with status 1. For main alone.
[[noreturn]] void exit_stdout_unwritable(std::string_view reason);

}  // namespace korvane
