// The command-line options of korvane-mcp. Without one the program serves MCP on standard input
// and output; arguments it does not know are ignored.
#pragma once

#include <optional>

namespace korvane {

// Carries out the first known option among the arguments and gives the exit status; nullopt
// when there is none and the request loop is to run. Never reads standard input.
std::optional<int> run_command_line(int argc, const char* const* argv);

}  // namespace korvane
