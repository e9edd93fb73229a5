// UTF-8 checks for byte strings that arrive from outside (environment, input lines).
#pragma once

#include <cstddef>
#include <string_view>

namespace korvane {

// True when the bytes are well-formed UTF-8: no overlong forms, surrogates, code points
// above U+10FFFF or truncated sequences.
bool is_valid_utf8(std::string_view bytes);

// Decodes the code point at `pos` of well-formed UTF-8 and moves `pos` past it.
char32_t next_code_point(std::string_view valid_utf8, std::size_t& pos);

// White space in the Unicode sense (the White_Space property).
bool is_unicode_white_space(char32_t code_point);

}  // namespace korvane
