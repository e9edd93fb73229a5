#include "common/utf8.h"

#include <cstdint>
#include <cstring>

#include "common/byte_vector.h"
#include "platform/wide_utf8.h"

namespace korvane {

Utf8Char decode_utf8(std::string_view bytes, std::size_t pos) {
  const auto lead = static_cast<unsigned char>(bytes[pos]);
  if (lead < 0x80) return {lead, 1, true};
  std::size_t continuations = 0;
  char32_t code_point = 0;
  unsigned char low = 0x80;  // the range of the byte after the lead
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    continuations = 1;
    code_point = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    continuations = 2;
    code_point = lead & 0x0Fu;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    continuations = 3;
    code_point = lead & 0x07u;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
  } else {
    return {0, 1, false};
  }
  std::size_t length = 1;
  for (; length <= continuations; ++length) {
    if (pos + length >= bytes.size()) return {0, length, false};
    const auto byte = static_cast<unsigned char>(bytes[pos + length]);
    if (byte < low || byte > high) return {0, length, false};
    code_point = (code_point << 6) | (byte & 0x3Fu);
    low = 0x80;
    high = 0xBF;
  }
  return {code_point, length, true};
}

namespace utf8_paths {

bool valid_by_words(std::string_view bytes) {
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    if (bytes.size() - pos >= 8) {
      if ((load_word(bytes.data() + pos) & 0x8080808080808080ULL) == 0) {
        pos += 8;
        continue;
      }
    }
    const Utf8Char decoded = decode_utf8(bytes, pos);
    if (!decoded.valid) return false;
    pos += decoded.length;
  }
  return true;
}

#if defined(KORVANE_BYTE_VECTOR)
namespace {

// Marks in `error` every lane of `current` that breaks a sequence, given the block before it.
// A lane must be a continuation byte exactly when one of the three before it starts a
// sequence that long; the byte after E0, ED, F0 and F4 has a narrower range; C0, C1 and F5 to
// FF never occur. Continuation bytes are the signed bytes below -64, and among them signed
// comparisons order them as unsigned ones do. Every term is a comparison's all-ones mask: the
// final test looks at one bit of each lane.
[[gnu::always_inline]] inline void check_block(vec::Bytes current, vec::Bytes previous, vec::Bytes& error) {
  using namespace vec;
  const auto byte = [](int value) { return splat(static_cast<std::uint8_t>(value)); };
  const Bytes before1 = shifted_in<1>(current, previous);
  const Bytes required =
      either(either(minus_floored(before1, byte(0xBF)), minus_floored(shifted_in<2>(current, previous), byte(0xDF))),
             minus_floored(shifted_in<3>(current, previous), byte(0xEF)));
  const Bytes continuation = below_signed(current, byte(0xC0));
  const Bytes misplaced = equal(equal(required, byte(0)), continuation);
  const Bytes never = either(at_least(current, byte(0xF5)), equal(both(current, byte(0xFE)), byte(0xC0)));
  const Bytes narrow = either(either(both(equal(before1, byte(0xE0)), below_signed(current, byte(0xA0))),
                                     both(equal(before1, byte(0xED)), above_signed(current, byte(0x9F)))),
                              either(both(equal(before1, byte(0xF0)), below_signed(current, byte(0x90))),
                                     both(equal(before1, byte(0xF4)), above_signed(current, byte(0x8F)))));
  error = either(error, either(either(misplaced, never), narrow));
}

// Whether a block's last bytes start a sequence that goes on past it: the last one starts a
// sequence of two bytes or more, the one before it of three or more, the one before that of four.
bool ends_inside_a_sequence(vec::Bytes block) {
  alignas(16) static constexpr std::uint8_t kLastBytesBelow[16] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                                                   0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xEF, 0xDF, 0xBF};
  const vec::Bytes above = vec::minus_floored(block, vec::load(reinterpret_cast<const char*>(kLastBytesBelow)));
  return vec::any(vec::at_least(above, vec::splat(1)));
}

}  // namespace

// Sixty-four bytes at a time: ASCII ones are passed over when the block before them ends with
// a whole sequence (nothing in them can be out of place then); in any others every block is
// checked, without a branch on each: where a text has characters beyond ASCII, they are mostly
// scattered through it.
bool valid_by_vectors(std::string_view bytes) {
  vec::Bytes previous = vec::splat(0);
  vec::Bytes error = vec::splat(0);
  std::size_t pos = 0;
  for (; pos + 64 <= bytes.size(); pos += 64) {
    const char* const at = bytes.data() + pos;
    const vec::Bytes ors = vec::either(vec::either(vec::load(at), vec::load(at + 16)),
                                       vec::either(vec::load(at + 32), vec::load(at + 48)));
    if (!vec::any_high_bit(ors) && !ends_inside_a_sequence(previous)) {
      previous = vec::load(at + 48);
      continue;
    }
    for (int block = 0; block < 4; ++block) {
      const vec::Bytes current = vec::load(at + 16 * block);
      check_block(current, previous, error);
      previous = current;
    }
  }
  for (; pos + 16 <= bytes.size(); pos += 16) {  // the last blocks, of short lines in the main
    const vec::Bytes current = vec::load(bytes.data() + pos);
    if (vec::any_high_bit(current) || ends_inside_a_sequence(previous)) check_block(current, previous, error);
    previous = current;
  }
  // The rest padded with zeros, then a block of zeros: a sequence cut off at the end shows as
  // a missing continuation byte.
  char tail[16] = {};
  if (pos < bytes.size()) std::memcpy(tail, bytes.data() + pos, bytes.size() - pos);
  const vec::Bytes last = vec::load(tail);
  check_block(last, previous, error);
  check_block(vec::splat(0), last, error);
  return !vec::any(error);
}
#endif

}  // namespace utf8_paths

namespace {

[[gnu::noinline]] bool valid_long_utf8(std::string_view bytes) {
  if (bytes.size() >= 256 && platform::has_wide_utf8_check())
    return platform::wide_utf8_valid(bytes.data(), bytes.size());
#if defined(KORVANE_BYTE_VECTOR)
  return utf8_paths::valid_by_vectors(bytes);
#else
  return utf8_paths::valid_by_words(bytes);
#endif
}

}  // namespace

// Most texts checked are short (keys, the strings of a request): the word path first.
bool is_valid_utf8(std::string_view bytes) {
  if (bytes.size() < 32) return utf8_paths::valid_by_words(bytes);
  return valid_long_utf8(bytes);
}

// Two well-formed texts make a well-formed one, and a well-formed text cut before a byte that
// starts a character makes two: so each part ends before the last such byte. Four continuation
// bytes in a row are ill-formed wherever the cut falls.
void GrowingUtf8Check::grew(std::string_view text) {
  if (!valid_) return;
  std::size_t end = text.size();
  for (int back = 0; back < 4 && end > checked_; ++back) {
    if ((static_cast<unsigned char>(text[--end]) & 0xC0) != 0x80) break;
  }
  if (end <= checked_) return;
  valid_ = is_valid_utf8(text.substr(checked_, end - checked_));
  checked_ = end;
}

bool GrowingUtf8Check::whole(std::string_view text) {
  if (valid_ && checked_ < text.size()) valid_ = is_valid_utf8(text.substr(checked_));
  checked_ = text.size();
  return valid_;
}

bool is_unicode_white_space(char32_t code_point) {
  switch (code_point) {
    case 0x09:
    case 0x0A:
    case 0x0B:
    case 0x0C:
    case 0x0D:
    case 0x20:
    case 0x85:
    case 0xA0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000: return true;
    default: return code_point >= 0x2000 && code_point <= 0x200A;
  }
}

}  // namespace korvane
