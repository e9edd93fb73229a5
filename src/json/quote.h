// Debug-style quoting of untrusted bytes for error texts.
#pragma once

#include <string>
#include <string_view>

namespace korvane::json {

// Decodes bytes as UTF-8 (each maximal invalid subpart becomes U+FFFD) and writes the text
// between double quotes: \0 \t \r \n \\ \" as two-character escapes, grapheme-extending
// and non-printable characters as \u{hex}, everything else as it is.
void append_quoted(std::string& out, std::string_view bytes);
std::string quoted(std::string_view bytes);

}  // namespace korvane::json
