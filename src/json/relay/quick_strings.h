// Passing over a JSON string's text in the quick check: escapes checked as the value reader
// checks them (surrogates included), nothing decoded and nothing kept.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "json/shared/specials.h"
#include "json/shared/string_blocks.h"
#include "json/shared/unicode_escape.h"

namespace korvane::json::detail {

// The letters of an escape of one letter but \" and \\: \/, \b, \f, \n, \r and \t.
constexpr bool is_one_letter_escape(char letter) {
  return letter == '/' || letter == 'b' || letter == 'f' || letter == 'n' || letter == 'r' || letter == 't';
}

// A string's text and closing quote, from after its opening quote, an escape at a time; past the
// quote, or null. The text's UTF-8 is checked beforehand.
inline const char* skip_string_by_search(const char* p, const char* end) {
  for (;;) {
    p += find_special(p, static_cast<std::size_t>(end - p));
    if (p == end) return nullptr;
    if (*p == '"') return p + 1;
    if (*p != '\\' || ++p == end) return nullptr;
    const char letter = *p++;
    if (letter == '"' || letter == '\\' || is_one_letter_escape(letter)) continue;
    if (letter != 'u') return nullptr;
    p = skip_unicode_escape(p, end);
    if (p == nullptr) return nullptr;
  }
}

// Whether the escapes of a block but those of a quote or backslash (`escaped`, bits of the bytes
// after their backslashes) are escapes, from `*checked_to` on: a "\u" escape's digits, and the
// escape of the trailing surrogate that a leading one needs, may reach into the next block, and
// are passed over there.
inline bool other_escapes_valid(const char* block, std::uint64_t escaped, const char* end, const char** checked_to) {
  for (; escaped != 0; escaped &= escaped - 1) {
    const char* const at = block + std::countr_zero(escaped);
    if (at < *checked_to) continue;  // the second half of a surrogate pair
    if (is_one_letter_escape(*at)) continue;
    if (*at != 'u') return false;
    *checked_to = skip_unicode_escape(at + 1, end);
    if (*checked_to == nullptr) return false;
  }
  return true;
}

// The same, sixty-four bytes at a time while as many are left (see string_blocks.h).
[[gnu::always_inline]] inline const char* skip_string(const char* p, const char* end) {
  std::uint64_t carry = 0;
  const char* checked_to = p;
  for (; end - p >= static_cast<std::ptrdiff_t>(kStringBlockBytes); p += kStringBlockBytes) {
    const StringBlock block = string_block(p);
    const std::uint64_t escaped = escaped_bits(block.backslashes, carry);
    const std::uint64_t closing = block.quotes & ~escaped;
    const std::uint64_t before = bits_before(closing);
    if ((block.controls & before) != 0) return nullptr;
    // Escapes of a quote or a backslash need no more look: only the others are read.
    const std::uint64_t others = escaped & before & ~(block.quotes | block.backslashes);
    if (others != 0 && !other_escapes_valid(p, others, end, &checked_to)) return nullptr;
    if (closing != 0) return p + std::countr_zero(closing) + 1;
  }
  if (checked_to > p)
    p = checked_to;  // an escape the last block began is checked already
  else if (carry != 0)
    --p;  // the byte at p is escaped: from its backslash on
  return skip_string_by_search(p, end);
}

}  // namespace korvane::json::detail
