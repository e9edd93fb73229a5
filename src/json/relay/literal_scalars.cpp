#include "json/relay/literal_scalars.h"

#include <algorithm>
#include <bit>
#include <cstdint>

#include "common/byte_vector.h"
#include "json/shared/unicode_escape.h"
#include "json/write/escape.h"
#include "json/write/writer.h"
#include "platform/float_chars.h"

namespace korvane::json::detail {
namespace {

// What a short escape's character, the byte after its backslash, becomes in the literal: the
// compact text writes the character's own escape again ("\/" is the plain "/"), and the literal
// puts a backslash before each backslash and quote of that. Size 0: no short escape ("\u").
struct EscapeWritten {
  std::array<char, 4> bytes;
  std::uint8_t size;
};
constexpr std::array<EscapeWritten, 256> kEscapeWritten = [] {
  std::array<EscapeWritten, 256> written{};
  written['"'] = {{'\\', '\\', '\\', '"'}, 4};
  written['\\'] = {{'\\', '\\', '\\', '\\'}, 4};
  written['/'] = {{'/'}, 1};
  for (const char c : {'b', 'f', 'n', 'r', 't'}) written[static_cast<unsigned char>(c)] = {{'\\', '\\', c}, 3};
  return written;
}();

// A character written by a "\u" escape, as the literal has it.
char* put_code_point(char* at, char32_t c) {
  if (c >= 0x80) {
    const auto byte = [](char32_t bits) { return static_cast<char>(bits); };
    if (c < 0x800) {
      at[0] = byte(0xC0 | (c >> 6)), at[1] = byte(0x80 | (c & 0x3F));
      return at + 2;
    }
    if (c < 0x10000) {
      at[0] = byte(0xE0 | (c >> 12)), at[1] = byte(0x80 | ((c >> 6) & 0x3F)), at[2] = byte(0x80 | (c & 0x3F));
      return at + 3;
    }
    at[0] = byte(0xF0 | (c >> 18)), at[1] = byte(0x80 | ((c >> 12) & 0x3F));
    at[2] = byte(0x80 | ((c >> 6) & 0x3F)), at[3] = byte(0x80 | (c & 0x3F));
    return at + 4;
  }
  const char ascii = static_cast<char>(c);
  if (!is_special(ascii)) {
    *at = ascii;
    return at + 1;
  }
  char buffer[6];
  for (const char e : escape_of(ascii, buffer)) {
    if (e == '\\' || e == '"') *at++ = '\\';
    *at++ = e;
  }
  return at;
}

}  // namespace

namespace literal_scalars {

// Each quote and backslash of the text gets a backslash before it (of a string with short escapes,
// so each escape's backslash and character).
#if defined(KORVANE_BYTE_VECTOR)
// Sixteen bytes at a time (the 16 past the text can be read): a block is copied whole, or in
// runs up to each quote and backslash in it.
char* put_escaped_copy(char* at, const char* text, std::size_t text_size) {
  using namespace vec;
  const char* const end = text + text_size;
  for (const char* p = text; p < end;) {
    const auto size = std::min<std::size_t>(16, static_cast<std::size_t>(end - p));
    const Bytes bytes = load(p);
    const std::uint64_t in_text = ~std::uint64_t{0} >> (64 - size * kLaneBitStride);
    std::uint64_t escaped = lane_bits(either(equal(bytes, splat('"')), equal(bytes, splat('\\')))) & in_text;
    std::size_t copied = 0;
    for (; escaped != 0; escaped &= escaped - 1) {
      const auto lane = static_cast<std::size_t>(std::countr_zero(escaped) / kLaneBitStride);
      std::memcpy(at, p + copied, 16);  // the run up to the lane, and more the next write covers
      at += lane - copied;
      at[0] = '\\';
      at[1] = p[lane];
      at += 2;
      copied = lane + 1;
    }
    std::memcpy(at, p + copied, 16);
    at += size - copied;
    p += size;
  }
  return at;
}
#else
char* put_escaped_copy(char* at, const char* text, std::size_t size) {
  const char* p = text;
  const char* const end = p + size;
  for (;;) {
    const std::size_t run = find_special(p, static_cast<std::size_t>(end - p));
    copy_short(at, p, run);  // at most doubled so far: the slack holds the rest
    at += run;
    p += run;
    if (p == end) return at;
    at[0] = '\\';
    at[1] = *p++;
    at += 2;
  }
}
#endif

// A string shorter than a block copies the runs between its quotes and backslashes, whose places
// the look for its end found, a block each.
char* put_short_escapes(char* at, const ScalarText& value) {
  std::memcpy(at, kLiteralQuote.data(), kLiteralQuote.size());
  at += kLiteralQuote.size();
  if (value.size < kStringBlockBytes) {
    std::size_t from = 0;
    for (std::uint64_t escaped = value.escaped; escaped != 0; escaped &= escaped - 1) {
      const auto lane = static_cast<std::size_t>(std::countr_zero(escaped));
      std::memcpy(at, value.text + from, kStringBlockBytes);  // the run, and more the next copy covers
      at += lane - from;
      *at++ = '\\';
      from = lane;
    }
    std::memcpy(at, value.text + from, kStringBlockBytes);
    at += value.size - from;
  } else {
    at = put_escaped_copy(at, value.text, value.size);
  }
  std::memcpy(at, kLiteralQuote.data(), kLiteralQuote.size());
  return at + kLiteralQuote.size();
}

char* put_rewritten_number(char* at, const ScalarText& value, std::string& scratch) {
  const std::string_view text(value.text, value.size);
  scratch.clear();
  if (!append_number_text_shortest(scratch, text)) append_double(scratch, platform::chars_to_double(text));
  const std::size_t size = std::min(scratch.size(), written_size(value));
  copy_bytes(at, scratch.data(), size);
  return at + size;
}

// The text's escapes are decoded and each character written as the compact text writes it,
// escaped once more: a run without a backslash is copied as it is (a checked string's text holds
// no other special byte), sixteen bytes at a time.
char* put_decoded_string(char* at, const ScalarText& value) {
  std::memcpy(at, kLiteralQuote.data(), kLiteralQuote.size());
  at += kLiteralQuote.size();
  const char* p = value.text;
  const char* const end = p + value.size;
  for (;;) {
    const std::size_t run = find_special(p, static_cast<std::size_t>(end - p));
    copy_short(at, p, run);
    at += run;
    p += run;
    if (p >= end) break;
    const EscapeWritten& written = kEscapeWritten[static_cast<unsigned char>(p[1])];
    if (written.size != 0) {
      std::memcpy(at, written.bytes.data(), 4);
      at += written.size;
      p += 2;
      continue;
    }
    const long unit = hex_unit(p + 2);
    p += 6;
    if (is_leading_surrogate(unit)) {  // a checked text pairs it with the trailing one
      at = put_code_point(at, surrogate_pair_value(unit, hex_unit(p + 2)));
      p += 6;
    } else {
      at = put_code_point(at, static_cast<char32_t>(unit));
    }
  }
  std::memcpy(at, kLiteralQuote.data(), kLiteralQuote.size());
  return at + kLiteralQuote.size();
}

}  // namespace literal_scalars

}  // namespace korvane::json::detail
