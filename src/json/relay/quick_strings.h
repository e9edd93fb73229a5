// Passing over a JSON string's text in the quick check: escapes checked as the value reader
// checks them (surrogates included), nothing decoded and nothing kept.
#pragma once

#include <cstddef>

#include "json/shared/specials.h"
#include "json/shared/unicode_escape.h"

namespace korvane::json::detail {

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
