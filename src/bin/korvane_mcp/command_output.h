// What an option writes: its output on standard output, or one line on standard error.
#pragma once

#include <string>
#include <string_view>

namespace korvane {

// Writes the text to standard output: status 0. A failed write ends the process as any does
// (a line on standard error, status 1).
int print(const std::string& text);

// "korvane-mcp: <problem>; <hint>" on standard error: status 2.
int usage_error(const std::string& problem, std::string_view hint = "korvane-mcp --help lists the options");

// "korvane-mcp: <problem>" on standard error: status 1.
int fail(const std::string& problem);

}  // namespace korvane
