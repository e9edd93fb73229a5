// The four hex digits of a "\u" escape and the surrogate pairs that write characters beyond
// U+FFFF, as the reader checks them and the relay's quick check passes over them.
#pragma once

#include <cstdint>

#include "common/hex.h"

namespace korvane::json {

// The code unit that four hex digits at `at` write, or -1 when one is no hex digit.
inline long hex_unit(const char* at) {
  long unit = 0;
  for (int k = 0; k < 4; ++k) {
    const int digit = hex_digit_value(at[k]);
    if (digit < 0) return -1;
    unit = unit * 16 + digit;
  }
  return unit;
}

inline bool is_leading_surrogate(long unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
inline bool is_trailing_surrogate(long unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

inline char32_t surrogate_pair_value(long leading, long trailing) {
  return static_cast<char32_t>((((leading - 0xD800) << 10) | (trailing - 0xDC00)) + 0x10000);
}

// After "\u": past the escape (and the escaped trailing surrogate a leading one needs), or null
// when it is no character (a lone or reversed surrogate, a byte that is no hex digit) or the
// text ends first.
inline const char* skip_unicode_escape(const char* p, const char* end) {
  if (end - p < 4) return nullptr;
  const long first = hex_unit(p);
  p += 4;
  if (first < 0 || is_trailing_surrogate(first)) return nullptr;
  if (!is_leading_surrogate(first)) return p;
  if (end - p < 6 || p[0] != '\\' || p[1] != 'u') return nullptr;
  return is_trailing_surrogate(hex_unit(p + 2)) ? p + 6 : nullptr;
}

}  // namespace korvane::json
