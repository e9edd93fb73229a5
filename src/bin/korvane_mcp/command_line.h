// The command-line options of korvane-mcp. Without one the program serves MCP on standard input
// and output; arguments that are no option (they do not begin with '-') are ignored.
#pragma once

#include <optional>

namespace korvane {

// Carries out the first option among the arguments and gives the exit status; nullopt when there
// is none and the request loop is to run. An unknown option, or a known one given the wrong
// arguments, is a usage error: one line on standard error, status 2. Never reads standard input.
std::optional<int> run_command_line(int argc, const char* const* argv);

}  // namespace korvane
