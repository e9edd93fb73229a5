// A string's text sixty-four bytes at a time, as bits: one for each quote, backslash and control
// byte, and from the backslashes the bytes they escape. The closing quote, and what escapes a
// string holds, are then found by arithmetic on the bits, without a branch for each escape or
// for where a short string ends: strings of a reply vary in length and in where their escapes
// are, and every branch on either was mispredicted about every other string.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "common/byte_vector.h"

namespace korvane::json {

// Sixty-four bytes of string text: bit i stands for byte i.
struct StringBlock {
  std::uint64_t quotes;       // "
  std::uint64_t backslashes;  // backslash
  std::uint64_t controls;     // U+0000 to U+001F
};

// Bytes read past the place asked for: a text must have this many readable bytes past it.
inline constexpr std::size_t kStringBlockBytes = 64;

namespace string_block_words {

constexpr std::uint64_t kOnes = 0x0101010101010101ULL, kLows = 0x7F7F7F7F7F7F7F7FULL, kHighs = ~kLows;

// The high bit of each byte of `word` that is `c`; exact in every byte (no borrow between them).
inline std::uint64_t equal_highs(std::uint64_t word, char c) {
  const std::uint64_t other = word ^ (kOnes * static_cast<unsigned char>(c));
  return ~(((other & kLows) + kLows) | other) & kHighs;
}
// The high bit of each byte below 0x20.
inline std::uint64_t control_highs(std::uint64_t word) { return ~(((word & kLows) + kOnes * 0x60) | word) & kHighs; }
// The high bits of eight bytes as eight bits, the first byte's lowest.
inline std::uint64_t gather(std::uint64_t highs) { return ((highs >> 7) * 0x0102040810204080ULL) >> 56; }

}  // namespace string_block_words

inline StringBlock string_block(const char* p) {
#if defined(KORVANE_BYTE_VECTOR)
  using namespace vec;
  Bytes quotes[4], backslashes[4], controls[4];
  for (int i = 0; i < 4; ++i) {
    const Bytes bytes = load(p + 16 * i);
    quotes[i] = equal(bytes, splat('"'));
    backslashes[i] = equal(bytes, splat('\\'));
    controls[i] = at_most(bytes, splat(0x1F));
  }
  return {bits_of(quotes[0], quotes[1], quotes[2], quotes[3]),
          bits_of(backslashes[0], backslashes[1], backslashes[2], backslashes[3]),
          bits_of(controls[0], controls[1], controls[2], controls[3])};
#else
  using namespace string_block_words;
  StringBlock block{0, 0, 0};
  for (int i = 0; i < 8; ++i) {
    const std::uint64_t word = load_word(p + 8 * i);
    block.quotes |= gather(equal_highs(word, '"')) << (8 * i);
    block.backslashes |= gather(equal_highs(word, '\\')) << (8 * i);
    block.controls |= gather(control_highs(word)) << (8 * i);
  }
  return block;
#endif
}

// The bytes of a block that a backslash escapes: of each run of backslashes every other one
// escapes the byte after it. `carry` says whether the first byte is escaped (by the block
// before), and is set to whether the next block's first byte is.
inline std::uint64_t escaped_bits(std::uint64_t backslashes, std::uint64_t& carry) {
  constexpr std::uint64_t kEvenBits = 0x5555555555555555ULL;
  backslashes &= ~carry;  // an escaped backslash escapes nothing
  const std::uint64_t follows_backslash = backslashes << 1 | carry;
  // Runs that start on an odd bit, added to all runs, carry out of runs that start on even ones.
  const std::uint64_t odd_starts = backslashes & ~kEvenBits & ~follows_backslash;
  std::uint64_t even_starts;
  carry = __builtin_add_overflow(odd_starts, backslashes, &even_starts) ? 1 : 0;
  const std::uint64_t inverted = even_starts << 1;
  return (kEvenBits ^ inverted) & follows_backslash;
}

// Sixty-four bytes of JSON text: its quotes and backslashes, its opening and closing brackets (of
// arrays and objects alike) and its commas, bit i for byte i.
struct BracketBlock {
  std::uint64_t quotes, backslashes, opens, closes, commas;
};

inline BracketBlock bracket_block(const char* p) {
#if defined(KORVANE_BYTE_VECTOR)
  using namespace vec;
  Bytes quotes[4], backslashes[4], opens[4], closes[4], commas[4];
  for (int i = 0; i < 4; ++i) {
    const Bytes bytes = load(p + 16 * i);
    const Bytes folded = either(bytes, splat(0x20));  // '[' and ']' as '{' and '}'
    quotes[i] = equal(bytes, splat('"'));
    backslashes[i] = equal(bytes, splat('\\'));
    opens[i] = equal(folded, splat('{'));
    closes[i] = equal(folded, splat('}'));
    commas[i] = equal(bytes, splat(','));
  }
  return {bits_of(quotes[0], quotes[1], quotes[2], quotes[3]),
          bits_of(backslashes[0], backslashes[1], backslashes[2], backslashes[3]),
          bits_of(opens[0], opens[1], opens[2], opens[3]), bits_of(closes[0], closes[1], closes[2], closes[3]),
          bits_of(commas[0], commas[1], commas[2], commas[3])};
#else
  using namespace string_block_words;
  BracketBlock block{0, 0, 0, 0, 0};
  for (int i = 0; i < 8; ++i) {
    const std::uint64_t word = load_word(p + 8 * i), folded = word | kOnes * 0x20;
    block.quotes |= gather(equal_highs(word, '"')) << (8 * i);
    block.backslashes |= gather(equal_highs(word, '\\')) << (8 * i);
    block.opens |= gather(equal_highs(folded, '{')) << (8 * i);
    block.closes |= gather(equal_highs(folded, '}')) << (8 * i);
    block.commas |= gather(equal_highs(word, ',')) << (8 * i);
  }
  return block;
#endif
}

// Bit i set when an odd number of the bits 0 to i are: from each opening quote up to before the
// closing one, given the quotes that are not escaped.
inline std::uint64_t prefix_xor(std::uint64_t bits) {
  for (int shift = 1; shift < 64; shift *= 2) bits ^= bits << shift;
  return bits;
}

// The bits below the lowest set bit of `bits`; all of them when none is set.
inline std::uint64_t bits_before(std::uint64_t bits) { return bits == 0 ? ~std::uint64_t{0} : (bits & (0 - bits)) - 1; }

}  // namespace korvane::json
