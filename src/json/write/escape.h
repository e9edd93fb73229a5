// Escaping text for a JSON string: only the quotation mark, the backslash and the control
// characters U+0000 to U+001F change; "/" and every non-ASCII character stay as they are.
#pragma once

#include <cstddef>
#include <string_view>

#include "json/shared/specials.h"

namespace korvane::json {

// The escape the writer writes for a special byte: \" \\ \b \f \n \r \t, else \u00xx.
inline std::string_view escape_of(char special, char (&buffer)[6]) {
  switch (special) {
    case '"': return "\\\"";
    case '\\': return "\\\\";
    case '\b': return "\\b";
    case '\f': return "\\f";
    case '\n': return "\\n";
    case '\r': return "\\r";
    case '\t': return "\\t";
    default: break;
  }
  constexpr char kHex[] = "0123456789abcdef";
  const auto byte = static_cast<unsigned char>(special);
  buffer[0] = '\\', buffer[1] = 'u', buffer[2] = '0', buffer[3] = '0';
  buffer[4] = kHex[byte >> 4], buffer[5] = kHex[byte & 0xF];
  return {buffer, 6};
}

// Appends the escape of a special byte; `doubly` escapes it once more, for a JSON text that
// stands in a string literal itself. Out: std::string or ByteBuffer.
template <typename Out>
void append_escape(Out& out, char special, bool doubly) {
  char buffer[6];
  const std::string_view escape = escape_of(special, buffer);
  if (!doubly) {
    out.append(escape);
    return;
  }
  for (char c : escape) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
}

// Appends text escaped, without quotes.
template <typename Out>
void append_escaped(Out& out, std::string_view text, bool doubly) {
  std::size_t at = 0;
  for (;;) {
    const std::size_t run = find_special(text.data() + at, text.size() - at);
    out.append(text.substr(at, run));
    at += run;
    if (at == text.size()) return;
    append_escape(out, text[at++], doubly);
  }
}

}  // namespace korvane::json
