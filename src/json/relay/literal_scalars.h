// The scalars of a checked text as the relay's literal has them (see LiteralWriter): passed
// over to find where they end and how they are written, then written at a place that has room.
// Short steps, inline: the writer's loop takes them for every value.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "common/byte_buffer.h"
#include "common/byte_vector.h"
#include "json/read/number.h"
#include "json/read/scalars.h"
#include "json/shared/number_lanes.h"
#include "json/shared/specials.h"
#include "json/shared/string_blocks.h"

namespace korvane::json::detail {

// How a scalar of the input is written, and where it is: a string's text between its quotes.
enum class WrittenAs : std::uint8_t {
  kCopied,           // as it is: literals, integers of 64 bits, floats already in written form
  kString,           // quoted, without escapes
  kShortEscapes,     // quoted, with escapes that writing writes back the same
  kEscapedCopy,      // a compact array of scalars written as they are: a backslash before each quote and backslash
  kEscapedString,    // decoded and written again
  kRewrittenNumber,  // read as a double and written
  kWritten,          // a container, written already
};
struct ScalarText {
  WrittenAs kind;
  const char* text;
  std::size_t size;
  std::uint64_t escaped = 0;  // of a string shorter than a block: a bit for each quote and backslash
};

inline constexpr std::string_view kLiteralQuote = "\\\"";  // a quotation mark of the text, escaped

// Room the output always has past what it is asked for, and bytes that can be read past a token of
// the input: copies go whole words and blocks at once. A short value is copied as kShortCopy bytes.
inline constexpr std::size_t kSlack = 64;
inline constexpr std::size_t kShortCopy = 32;

namespace literal_scalars {

inline constexpr std::array<bool, 256> kNumberBytes = [] {
  std::array<bool, 256> bytes{};
  for (int c = '0'; c <= '9'; ++c) bytes[c] = true;
  bytes['-'] = bytes['+'] = bytes['.'] = bytes['e'] = bytes['E'] = true;
  return bytes;
}();

// The end of a string's text (its closing quote, or the end), after its opening quote, and how
// it is written: escapes that writing writes back the same (all but "\/" and "\u") need no
// decoding. Sixty-four bytes at a time (see string_blocks.h).
[[gnu::always_inline]] inline const char* string_end(const char* p, const char* end, WrittenAs& kind,
                                                     std::uint64_t& first_escaped) {
  std::uint64_t carry = 0;
  bool escapes = false, decoded = false;
  first_escaped = 0;
  for (const char* const first = p;; p += kStringBlockBytes) {
    const StringBlock block = string_block(p);
    const std::uint64_t escaped = escaped_bits(block.backslashes, carry);
    const std::uint64_t closing = block.quotes & ~escaped;
    const std::uint64_t before = bits_before(closing);
    escapes |= (block.backslashes & before) != 0;
    if (p == first) first_escaped = (block.quotes | block.backslashes) & before;
    // Escapes but \" and \\ are rare: each is looked at.
    for (std::uint64_t other = escaped & before & ~(block.quotes | block.backslashes); other != 0; other &= other - 1) {
      const char c = p[std::countr_zero(other)];
      decoded |= c == 'u' || c == '/';
    }
    if (closing != 0 || end - p <= static_cast<std::ptrdiff_t>(kStringBlockBytes)) {
      kind = decoded ? WrittenAs::kEscapedString : escapes ? WrittenAs::kShortEscapes : WrittenAs::kString;
      return closing != 0 ? std::min(p + std::countr_zero(closing), end) : end;
    }
  }
}

// The same for a key: keys are short, and most of them plain, so the search that tells a short
// string's end soonest serves them better.
[[gnu::always_inline]] inline const char* key_end(const char* p, const char* end, WrittenAs& kind) {
  kind = WrittenAs::kString;
  for (;;) {
    p += find_special(p, static_cast<std::size_t>(end - p));
    if (p >= end || *p == '"') return p;
    if (end - p < 2) return end;
    if (p[1] == 'u' || p[1] == '/') kind = WrittenAs::kEscapedString;
    if (kind == WrittenAs::kString) kind = WrittenAs::kShortEscapes;
    p += 2;
  }
}

// Past the digits at p, eight at a time: a number of a checked text is followed by a byte that
// is no digit, its slack if nothing else, and the words read stay in that slack.
inline const char* skip_digits(const char* p) {
  for (;;) {
    const int count = leading_digits(load_word(p));
    p += count;
    if (count < 8) return p;
  }
}

// Whether a float without exponent is exactly what writing its double gives: up to 15
// significant digits, no trailing zero after the point but a lone one, and plain notation.
inline bool plain_float_is_written(std::string_view whole, std::string_view fraction) {
  if (fraction.back() == '0') return fraction.size() == 1 && whole.size() <= 15;  // a lone zero
  if (whole != "0") return whole.size() + fraction.size() <= 15;
  const std::size_t zeros = fraction.find_first_not_of('0');
  return zeros <= 4 && fraction.size() - zeros <= 15;  // plain notation down to 1e-5
}

// A number of a checked text, whose slack (zeros) ends it when nothing else does, run of digits
// by run of digits.
inline const char* scan_number_by_runs(const char* p, ScalarText& value) {
  const char* q = p + (*p == '-' ? 1 : 0);
  const char* const whole = q;
  q = skip_digits(q);
  const std::string_view whole_digits(whole, static_cast<std::size_t>(q - whole));
  WrittenAs kind = WrittenAs::kCopied;
  if (*q == '.') {
    const char* const fraction = ++q;
    q = skip_digits(q);
    const std::string_view fraction_digits(fraction, static_cast<std::size_t>(q - fraction));
    if (fraction_digits.empty() || !plain_float_is_written(whole_digits, fraction_digits)) {
      kind = WrittenAs::kRewrittenNumber;
    }
  } else if (whole_digits.size() > 18 || (whole != p && whole_digits == "0")) {
    if (integer_kind(whole != p, whole_digits) == Number::Kind::kFloat) kind = WrittenAs::kRewrittenNumber;
  }
  if (*q == 'e' || *q == 'E') {
    kind = WrittenAs::kRewrittenNumber;
    while (kNumberBytes[static_cast<unsigned char>(*q)]) ++q;
  }
  value = {kind, p, static_cast<std::size_t>(q - p)};
  return q;
}

// A number of a checked text with kSlack readable bytes past it: one of fewer than sixteen bytes
// without exponent at once (see number_lanes.h).
[[gnu::always_inline]] inline const char* scan_number(const char* p, ScalarText& value) {
  const NumberLanes lanes = number_lanes(p);
  if (lanes.size == 16 || lanes.exponent != 0) return scan_number_by_runs(p, value);
  const std::size_t sign = *p == '-' ? 1 : 0;
  WrittenAs kind = WrittenAs::kCopied;
  if (lanes.points != 0) {
    const std::size_t point = NumberLanes::byte_of(lanes.points);
    const std::string_view whole(p + sign, point - sign), fraction(p + point + 1, lanes.size - point - 1);
    if (!plain_float_is_written(whole, fraction)) kind = WrittenAs::kRewrittenNumber;
  } else if (const std::string_view digits(p + sign, lanes.size - sign);
             digits.size() > 18 || (sign != 0 && digits == "0")) {
    if (integer_kind(sign != 0, digits) == Number::Kind::kFloat) kind = WrittenAs::kRewrittenNumber;
  }
  value = {kind, p, lanes.size};
  return p + lanes.size;
}

// Copies n bytes from where kSlack bytes past them can be read; a short value as kShortCopy of
// them: no branch on its length.
inline void copy_short(char* to, const char* from, std::size_t n) {
  if (n <= kShortCopy) {
    std::memcpy(to, from, kShortCopy);
    return;
  }
  copy_bytes(to, from, n);
}

char* put_escaped_copy(char* at, const char* text, std::size_t size);
char* put_short_escapes(char* at, const ScalarText& value);
char* put_decoded_string(char* at, const ScalarText& value);
char* put_rewritten_number(char* at, const ScalarText& value, std::string& scratch);

}  // namespace literal_scalars

// The scalar at p, a byte that starts one, in a checked text with kSlack readable bytes past
// `end`: where it ends, and how it is written.
[[gnu::always_inline]] inline const char* scan_scalar(const char* p, const char* end, ScalarText& value) {
  switch (*p) {
    case '"': {
      const char* const stop = literal_scalars::string_end(p + 1, end, value.kind, value.escaped);
      value.text = p + 1;
      value.size = static_cast<std::size_t>(stop - p - 1);
      if (stop >= end) value.kind = WrittenAs::kString;
      return stop < end ? stop + 1 : end;
    }
    case 't':
    case 'n': value = {WrittenAs::kCopied, p, std::min<std::size_t>(4, end - p)}; return p + value.size;
    case 'f': value = {WrittenAs::kCopied, p, std::min<std::size_t>(5, end - p)}; return p + value.size;
    default: return literal_scalars::scan_number(p, value);
  }
}

// A compact array of scalars that are written as they are ([1,"a",true]) at `at`: moved past it,
// with `value` its text as one copy (kEscapedCopy); false, with nothing moved, for any other.
[[gnu::always_inline]] inline bool scan_scalar_array(const char*& at, const char* end, ScalarText& value) {
  const char* p = at + 1;
  if (*p != ']') {
    for (;;) {
      if (!kStartsScalar[static_cast<unsigned char>(*p)]) return false;
      ScalarText element;
      p = scan_scalar(p, end, element);
      if (element.kind != WrittenAs::kCopied && element.kind != WrittenAs::kString &&
          element.kind != WrittenAs::kShortEscapes) {
        return false;
      }
      if (*p == ']') break;
      if (*p++ != ',') return false;
    }
  }
  value = {WrittenAs::kEscapedCopy, at, static_cast<std::size_t>(p + 1 - at)};
  at = p + 1;
  return true;
}

// The most a scalar's written text takes. An escape takes at most twice its bytes written ("\\\""
// for "\""), a decoded one fewer ("\\u0001" for "\u0001", "é" for "\u00e9").
inline std::size_t written_size(const ScalarText& value) {
  switch (value.kind) {
    case WrittenAs::kString: return value.size + 2 * kLiteralQuote.size();
    case WrittenAs::kShortEscapes:
    case WrittenAs::kEscapedString: return 2 * value.size + 2 * kLiteralQuote.size();
    case WrittenAs::kEscapedCopy: return 2 * value.size;
    case WrittenAs::kRewrittenNumber: return 32;  // "-1.2345678901234567e-308" is the longest
    default: return value.size;
  }
}

// Writes a scalar at `at`, which has room for its written_size and kSlack more; kSlack bytes past
// its input can be read. The end of what was written.
[[gnu::always_inline]] inline char* put_scalar_at(char* at, const ScalarText& value, std::string& scratch) {
  switch (value.kind) {
    case WrittenAs::kString:
      std::memcpy(at, kLiteralQuote.data(), kLiteralQuote.size());
      if (value.size <= kSlack) {  // a block at once, whatever its length
        std::memcpy(at + kLiteralQuote.size(), value.text, kSlack);
      } else {
        copy_bytes(at + kLiteralQuote.size(), value.text, value.size);
      }
      std::memcpy(at + kLiteralQuote.size() + value.size, kLiteralQuote.data(), kLiteralQuote.size());
      return at + value.size + 2 * kLiteralQuote.size();
    case WrittenAs::kCopied: literal_scalars::copy_short(at, value.text, value.size); return at + value.size;
    case WrittenAs::kShortEscapes: return literal_scalars::put_short_escapes(at, value);
    case WrittenAs::kEscapedCopy: return literal_scalars::put_escaped_copy(at, value.text, value.size);
    case WrittenAs::kEscapedString: return literal_scalars::put_decoded_string(at, value);
    case WrittenAs::kRewrittenNumber: return literal_scalars::put_rewritten_number(at, value, scratch);
    default: copy_bytes(at, value.text, value.size); return at + value.size;
  }
}

}  // namespace korvane::json::detail
