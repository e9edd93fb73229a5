// Passing over a JSON string's text in the quick check: escapes checked as the value reader
// checks them (surrogates included), nothing decoded and nothing kept.
#pragma once

#include <cstddef>

#include "common/hex.h"
#include "json/specials.h"

namespace korvane::json::detail {

// Four hex digits at `at`, or -1.
inline long hex_unit(const char* at) {
  long unit = 0;
  for (int k = 0; k < 4; ++k) {
    const int digit = hex_digit_value(at[k]);
    if (digit < 0) return -1;
    unit = unit * 16 + digit;
  }
  return unit;
}

// After "\u": past the escape, or null when it is not a character (a lone or reversed
// surrogate) or the text ends first.
const char* skip_unicode_escape(const char* p, const char* end) {
  if (end - p < 4) return nullptr;
  const long first = hex_unit(p);
  p += 4;
  if (first < 0 || (first >= 0xDC00 && first <= 0xDFFF)) return nullptr;
  if (first < 0xD800 || first > 0xDBFF) return p;
  if (end - p < 6 || p[0] != '\\' || p[1] != 'u') return nullptr;
  const long second = hex_unit(p + 2);
  return second >= 0xDC00 && second <= 0xDFFF ? p + 6 : nullptr;
}

// A string's text and closing quote, from after its opening quote; past the quote, or null.
// The text's UTF-8 is checked beforehand.
[[gnu::always_inline]] inline const char* skip_string(const char* p, const char* end) {
  for (;;) {
    p += find_special(p, static_cast<std::size_t>(end - p));
    if (p == end) return nullptr;
    if (*p == '"') return p + 1;
    if (*p != '\\' || ++p == end) return nullptr;
    switch (*p++) {
      case '"':
      case '\\':
      case '/':
      case 'b':
      case 'f':
      case 'n':
      case 'r':
      case 't': break;
      case 'u':
        p = skip_unicode_escape(p, end);
        if (p == nullptr) return nullptr;
        break;
      default: return nullptr;
    }
  }
}

}  // namespace korvane::json::detail
