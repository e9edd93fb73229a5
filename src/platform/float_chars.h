// Text to double and back, exact on every standard library: std::from_chars and std::to_chars
// for doubles where the library has them, otherwise the C library's correctly rounded strtod
// and a shortest-digits search over snprintf.
#pragma once

#include <cstddef>
#include <string_view>

namespace korvane::platform {

// The correctly rounded double a decimal number's text denotes (infinity or zero beyond range).
double chars_to_double(std::string_view text);

// Writes the shortest digits that read back as the same finite, non-zero double, in
// scientific form: [-]d[.ddd]e(+|-)XX. Returns the length; `out` holds at least 32 bytes.
std::size_t double_to_shortest_chars(char* out, double value);

// The portable search above, always: lets the tests compare it with the library's.
std::size_t double_to_shortest_chars_by_search(char* out, double value);

}  // namespace korvane::platform
