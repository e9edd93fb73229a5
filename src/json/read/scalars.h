// Reading JSON scalars: literals, numbers and strings. Each reader takes a flavour: the strict
// one classifies numbers, checks their range and checks strings fully; the skipping one (for
// members nobody reads) checks only their form and has some reason texts of its own.
#pragma once

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "common/utf8.h"
#include "json/read/cursor.h"
#include "json/read/number.h"
#include "json/read/reasons.h"
#include "json/shared/specials.h"
#include "json/shared/unicode_escape.h"

namespace korvane::json::detail {

inline bool is_digit(int c) { return c >= '0' && c <= '9'; }

// The bytes a string, number or literal starts with.
inline constexpr std::array<bool, 256> kStartsScalar = [] {
  std::array<bool, 256> starts{};
  for (const char c : {'"', '-', 't', 'f', 'n', '0', '1', '2', '3', '4', '5', '6', '7', '8', '9'})
    starts[static_cast<unsigned char>(c)] = true;
  return starts;
}();

// The rest of a literal whose first byte has been consumed.
inline bool read_ident(Cursor& in, std::string_view rest) {
  for (char expected : rest) {
    if (in.at_end()) return in.consumed_error(reason::kEofInValue);
    if (in.take() != expected) return in.consumed_error(reason::kExpectedIdent);
  }
  return true;
}

// How many of a word's first bytes are ASCII digits. A byte is one when its high nibble is 3
// and adding 6 keeps it so.
inline int leading_digits(std::uint64_t word) {
  constexpr std::uint64_t kHigh = 0xF0F0F0F0F0F0F0F0ULL, kThrees = 0x3030303030303030ULL;
  const std::uint64_t other = ((word & kHigh) ^ kThrees) | (((word + 0x0606060606060606ULL) & kHigh) ^ kThrees);
  return other == 0 ? 8 : std::countr_zero(other) / 8;
}

// An integer without fraction or exponent: unsigned when not negative and at most 2^64 - 1,
// signed when negative and at least -2^63, a double otherwise (and "-0" is the double -0.0).
inline Number::Kind integer_kind(bool negative, std::string_view digits) {
  const auto at_most = [&](std::string_view limit) {
    return digits.size() < limit.size() || (digits.size() == limit.size() && digits <= limit);
  };
  if (!negative) return at_most("18446744073709551615") ? Number::Kind::kUnsigned : Number::Kind::kFloat;
  if (digits == "0") return Number::Kind::kFloat;
  return at_most("9223372036854775808") ? Number::Kind::kSigned : Number::Kind::kFloat;
}

// Moves past the digits at the cursor, eight at a time while the input holds eight more bytes;
// their count, and in `nonzero` whether one of them is not 0.
inline std::size_t skip_digits(Cursor& in, bool& nonzero) {
  const std::size_t start = in.pos();
  while (in.size() - in.pos() >= 8) {
    const std::uint64_t word = load_word(in.data() + in.pos());
    const int count = leading_digits(word);
    const std::uint64_t digits = count == 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * count)) - 1;
    nonzero = nonzero || ((word ^ 0x3030303030303030ULL) & digits) != 0;
    in.advance(static_cast<std::size_t>(count));
    if (count < 8) return in.pos() - start;
  }
  for (int c = in.peek(); is_digit(c); c = in.peek()) {
    nonzero = nonzero || c != '0';
    in.advance();
  }
  return in.pos() - start;
}

// The integer part of a number, at its first digit; in `nonzero` whether a digit is not 0, and
// the count of digits of a non-zero one.
inline bool read_integer_part(Cursor& in, bool& nonzero, std::size_t& nonzero_digits) {
  const char first = in.data()[in.pos()];
  if (first == '0') {
    in.advance();
    return !is_digit(in.peek()) || in.peek_error(reason::kInvalidNumber);
  }
  if (first < '1' || first > '9') {
    in.advance();
    return in.consumed_error(reason::kInvalidNumber);
  }
  nonzero_digits = skip_digits(in, nonzero);
  return true;
}

// An exponent, after its 'e' or 'E': its value, or `overflow` when it is beyond 32 bits (out of
// range when it would grow a non-zero number, and zero otherwise). Skipping reads only its form.
template <bool kSkipping>
bool read_exponent(Cursor& in, bool nonzero, long long& exponent, bool& overflow) {
  constexpr std::string_view kCutOff = kSkipping ? reason::kInvalidNumber : reason::kEofInValue;
  const bool negative = in.peek() == '-';
  if (in.peek() == '+' || in.peek() == '-') in.advance();
  if (in.at_end()) return in.consumed_error(kCutOff);
  const char digit = in.take();
  if (!is_digit(digit)) return in.consumed_error(reason::kInvalidNumber);
  exponent = digit - '0';
  while (is_digit(in.peek())) {
    if constexpr (kSkipping) {
      in.advance();
      continue;
    }
    exponent = exponent * 10 + (in.take() - '0');
    if (exponent > std::numeric_limits<std::int32_t>::max()) {
      if (nonzero && !negative) return in.consumed_error(reason::kNumberOutOfRange);
      while (is_digit(in.peek())) in.advance();
      overflow = true;
    }
  }
  if (negative) exponent = -exponent;
  return true;
}

// A number, at its '-' or first digit.
template <bool kSkipping>
bool read_number(Cursor& in, Number& number) {
  constexpr std::string_view kCutOff = kSkipping ? reason::kInvalidNumber : reason::kEofInValue;
  const std::size_t start = in.pos();
  const bool negative = in.peek() == '-';
  if (negative) in.advance();
  if (in.at_end()) return in.consumed_error(kCutOff);
  const std::size_t digits_start = in.pos();
  bool nonzero = false, is_float = false, exponent_overflow = false;
  std::size_t integer_digits = 0;  // of a non-zero integer part
  if (!read_integer_part(in, nonzero, integer_digits)) return false;
  const std::string_view integer = in.slice(digits_start, in.pos());
  if (in.peek() == '.') {
    in.advance();
    if (skip_digits(in, nonzero) == 0)
      return in.peek_error(kSkipping || !in.at_end() ? reason::kInvalidNumber : kCutOff);
    is_float = true;
  }
  long long exponent = 0;
  if (in.peek() == 'e' || in.peek() == 'E') {
    is_float = true;
    in.advance();
    if (!read_exponent<kSkipping>(in, nonzero, exponent, exponent_overflow)) return false;
  }
  number.text = in.slice(start, in.pos());
  if constexpr (kSkipping) return true;
  number.kind = is_float ? Number::Kind::kFloat : integer_kind(negative, integer);
  if (number.kind != Number::Kind::kFloat || !nonzero || exponent_overflow) return true;
  // Below 10^308 a number is finite; only a bigger one needs its double to tell.
  const auto integer_exponent = static_cast<long long>(integer_digits > 0 ? integer_digits - 1 : 0);
  const bool may_overflow = integer_exponent + exponent >= 308;
  if (may_overflow && std::isinf(number.float_value())) return in.consumed_error(reason::kNumberOutOfRange);
  return true;
}

// Checks a number without working out what it is, for a read that keeps nothing of it. Plain
// decimals of up to 300 integer digits (far inside a double's range) are passed over byte by
// byte; anything else, including every error, is read in full so that errors are those of
// read_number.
inline bool check_number(Cursor& in) {
  const char* const data = in.data();
  const std::size_t size = in.size();
  std::size_t at = in.pos();
  if (at < size && data[at] == '-') ++at;
  if (at < size && data[at] == '0') {
    ++at;
  } else if (at < size && data[at] >= '1' && data[at] <= '9') {
    const std::size_t first = at;
    while (++at < size && is_digit(data[at])) {
    }
    if (at - first > 300) at = size;  // may be out of range: read_number tells
  } else {
    at = size;  // read in full below
  }
  if (at < size && data[at] == '.') {
    const std::size_t fraction = ++at;
    while (at < size && is_digit(data[at])) ++at;
    if (at == fraction) at = size;
  }
  if (at < size && !is_digit(data[at]) && data[at] != 'e' && data[at] != 'E' && data[at] != '.') {
    in.seek(at);
    return true;
  }
  Number number;
  return read_number<false>(in, number);
}

// A string as read: the text between its quotes, as written.
struct StringRead {
  std::string_view raw;
  bool escaped = false;      // raw holds an escape
  std::size_t readable = 0;  // input bytes from raw.data() on (raw, its quote and what follows)
};

// Where a string's text goes as it is read, a sink:
//   void run(std::string_view bytes, bool last);  // plain text as written; `last` before the quote
//   void character(char c);                       // what a short escape stands for: " \ / b f n r t
//   void code_point(char32_t c);                  // what a \u escape (or a surrogate pair) stands for
// Every run but the last is followed by an escape.

// A sink that keeps nothing.
struct NoText {
  void run(std::string_view, bool) {}
  void character(char) {}
  void code_point(char32_t) {}
};

// A sink that gives the decoded text: a view of the input when the string holds no escape,
// else built in `scratch`. One per string.
class DecodedText {
 public:
  explicit DecodedText(std::string& scratch) : scratch_(&scratch) {}
  std::string_view text() const { return text_; }

  void run(std::string_view bytes, bool last) {
    if (last && !escaped_) {
      text_ = bytes;
      return;
    }
    if (!escaped_) scratch_->clear();
    escaped_ = true;
    scratch_->append(bytes);
    if (last) text_ = *scratch_;
  }
  void character(char c) { scratch_->push_back(c); }
  void code_point(char32_t c) { append_utf8(*scratch_, c); }

 private:
  std::string* scratch_;
  std::string_view text_;
  bool escaped_ = false;
};

// All four bytes of a \u escape are consumed before they are checked.
inline bool read_hex_escape(Cursor& in, long& code_unit) {
  if (in.size() - in.pos() < 4) {
    in.seek(in.size());
    return in.consumed_error(reason::kEofInString);
  }
  code_unit = hex_unit(in.data() + in.pos());
  in.advance(4);
  return code_unit >= 0 || in.consumed_error(reason::kInvalidEscape);
}

// After "\u": a character, or a leading surrogate followed by an escaped trailing one.
template <typename Sink>
bool read_unicode_escape(Cursor& in, Sink& sink) {
  long first = 0;
  if (!read_hex_escape(in, first)) return false;
  if (is_trailing_surrogate(first)) return in.consumed_error(reason::kLoneSurrogate);
  if (!is_leading_surrogate(first)) {
    sink.code_point(static_cast<char32_t>(first));
    return true;
  }
  for (char expected : {'\\', 'u'}) {
    if (in.at_end()) return in.consumed_error(reason::kEofInString);
    if (in.take() != expected) return in.consumed_error(reason::kEndOfHexEscape);
  }
  long second = 0;
  if (!read_hex_escape(in, second)) return false;
  if (!is_trailing_surrogate(second)) return in.consumed_error(reason::kLoneSurrogate);
  sink.code_point(surrogate_pair_value(first, second));
  return true;
}

template <bool kSkipping, typename Sink>
bool read_escape(Cursor& in, Sink& sink) {
  if (in.at_end()) return in.consumed_error(reason::kEofInString);
  char c = in.take();
  switch (c) {
    case '"':
    case '\\':
    case '/': break;
    case 'b': c = '\b'; break;
    case 'f': c = '\f'; break;
    case 'n': c = '\n'; break;
    case 'r': c = '\r'; break;
    case 't': c = '\t'; break;
    case 'u': {
      if constexpr (!kSkipping) return read_unicode_escape(in, sink);
      long unused = 0;
      return read_hex_escape(in, unused);
    }
    default: return in.consumed_error(reason::kInvalidEscape);
  }
  sink.character(c);
  return true;
}

// A string, after its opening quote; its text goes to the sink as it is read. Strict reading
// checks escapes fully and wants well-formed UTF-8; skipping checks only their form.
template <bool kSkipping, typename Sink>
bool read_string(Cursor& in, StringRead& out, Sink& sink) {
  const std::size_t start = in.pos();
  std::size_t run = start;  // where the plain text not yet handed on starts
  out.escaped = false;
  for (;;) {
    const std::size_t stop = in.pos() + find_special(in.data() + in.pos(), in.size() - in.pos());
    in.seek(stop);
    if (in.at_end()) return in.consumed_error(reason::kEofInString);
    const char c = in.data()[stop];
    if (c == '"') {
      const std::string_view raw(in.data() + start, stop - start);
      out.raw = raw;
      out.readable = in.size() - start;
      sink.run(std::string_view(in.data() + run, stop - run), true);
      in.advance();
      // Escapes only ever add well-formed UTF-8, so the raw text tells for the decoded one.
      if (!kSkipping && !in.is_utf8(raw)) return in.consumed_error(reason::kInvalidCodePoint);
      return true;
    }
    if (c != '\\') {
      if (!kSkipping) in.advance();
      return in.consumed_error(reason::kControlCharacter);
    }
    sink.run(std::string_view(in.data() + run, stop - run), false);
    out.escaped = true;
    in.advance();
    if (!read_escape<kSkipping>(in, sink)) return false;
    run = in.pos();
  }
}

}  // namespace korvane::json::detail
