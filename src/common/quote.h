// Quoting untrusted bytes for error texts, the way a debug print shows a string.
#pragma once

#include <string>
#include <string_view>

namespace korvane {

// Decodes bytes as UTF-8 (each maximal invalid subpart becomes U+FFFD) and writes the text
// between double quotes: \0 \t \r \n \\ \" as two-character escapes, grapheme-extending
// and non-printable characters as \u{hex}, everything else as it is.
void append_quoted(std::string& out, std::string_view bytes);
std::string quoted_text(std::string_view bytes);

}  // namespace korvane
