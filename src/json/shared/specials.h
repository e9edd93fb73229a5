// Finding the bytes that matter inside JSON string text: the quotation mark, the backslash and
// the control characters U+0000 to U+001F. They end a plain run when a string is read, and they
// are what escaping changes when one is written. Eight bytes at a time on every CPU, sixteen
// where it has vectors.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/byte_vector.h"

namespace korvane::json {

inline constexpr std::array<bool, 256> kSpecialByte = [] {
  std::array<bool, 256> special{};
  for (int c = 0; c < 0x20; ++c) special[c] = true;
  special['"'] = special['\\'] = true;
  return special;
}();

inline bool is_special(char c) { return kSpecialByte[static_cast<unsigned char>(c)]; }

namespace special_paths {

// The high bit of each special byte's lane; lanes above the first special one may be set too
// (borrows run upwards), so only the lowest set bit is exact.
inline std::uint64_t special_lanes(std::uint64_t word) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL, kHighs = 0x8080808080808080ULL;
  const auto zero_lanes = [](std::uint64_t v) { return (v - kOnes) & ~v & kHighs; };
  const std::uint64_t below_space = (word - kOnes * 0x20) & ~word & kHighs;
  return below_space | zero_lanes(word ^ (kOnes * '"')) | zero_lanes(word ^ (kOnes * '\\'));
}

inline std::size_t find_by_words(const char* data, std::size_t size) {
  std::size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    const std::uint64_t word = load_word(data + i);
    if (const std::uint64_t lanes = special_lanes(word); lanes != 0) {
      return i + static_cast<std::size_t>(std::countr_zero(lanes)) / 8;
    }
  }
  while (i < size && !is_special(data[i])) ++i;
  return i;
}

#if defined(KORVANE_BYTE_VECTOR)
inline vec::Bytes special_lanes(const char* at) {
  using namespace vec;
  const Bytes bytes = load(at);
  return either(either(equal(bytes, splat('"')), equal(bytes, splat('\\'))), at_most(bytes, splat(0x1F)));
}

// Thirty-two bytes at a time first, with one test for both halves: most strings of JSON text end
// within them, so the test mostly goes the same way.
inline std::size_t find_by_vectors(const char* data, std::size_t size) {
  using namespace vec;
  std::size_t i = 0;
  for (; i + 32 <= size; i += 32) {
    const Bytes low = special_lanes(data + i), high = special_lanes(data + i + 16);
    if (any(either(low, high))) {
      const int first = first_true(low);
      return i + static_cast<std::size_t>(first < 16 ? first : 16 + first_true(high));
    }
  }
  for (; i + 16 <= size; i += 16) {
    if (const int first = first_true(special_lanes(data + i)); first < 16) return i + static_cast<std::size_t>(first);
  }
  return i + find_by_words(data + i, size - i);
}
#endif

}  // namespace special_paths

// The index of the first special byte in [data, data + size), or size when there is none.
inline std::size_t find_special(const char* data, std::size_t size) {
#if defined(KORVANE_BYTE_VECTOR)
  return special_paths::find_by_vectors(data, size);
#else
  return special_paths::find_by_words(data, size);
#endif
}

}  // namespace korvane::json
