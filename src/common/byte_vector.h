// Sixteen bytes at a time: the few vector operations the byte scanners need, on SSE2 (every
// x86-64 CPU) and NEON (every arm64 CPU). KORVANE_BYTE_VECTOR is defined where they exist; the
// scanners keep a portable word-at-a-time path beside them. Defining KORVANE_NO_BYTE_VECTOR (the
// CMake option of that name, on in the test command's portable stage) leaves the vectors out,
// so that every scanner's portable path is built and tested.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#if defined(KORVANE_NO_BYTE_VECTOR)
#elif defined(__SSE2__)
#include <emmintrin.h>
#define KORVANE_BYTE_VECTOR 1
#elif defined(__ARM_NEON) || defined(__aarch64__)
#include <arm_neon.h>
#define KORVANE_BYTE_VECTOR 1
#endif

namespace korvane {

// Eight bytes as a word whose lowest byte is the first, on every CPU: the portable paths'
// unit.
inline std::uint64_t load_word(const char* at) {
  std::uint64_t word = 0;
  std::memcpy(&word, at, sizeof word);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  return word;
}

}  // namespace korvane

#if defined(KORVANE_BYTE_VECTOR)
namespace korvane::vec {

#if defined(__SSE2__)
using Bytes = __m128i;

inline Bytes load(const char* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); }
inline Bytes splat(std::uint8_t byte) { return _mm_set1_epi8(static_cast<char>(byte)); }
inline Bytes either(Bytes a, Bytes b) { return _mm_or_si128(a, b); }
inline Bytes both(Bytes a, Bytes b) { return _mm_and_si128(a, b); }
inline Bytes but_not(Bytes a, Bytes b) { return _mm_andnot_si128(b, a); }  // a and not b
inline Bytes differ(Bytes a, Bytes b) { return _mm_xor_si128(a, b); }
inline Bytes equal(Bytes a, Bytes b) { return _mm_cmpeq_epi8(a, b); }
// Unsigned comparisons, lane by lane: all ones where true.
inline Bytes at_least(Bytes a, Bytes b) { return _mm_cmpeq_epi8(_mm_max_epu8(a, b), a); }
inline Bytes at_most(Bytes a, Bytes b) { return _mm_cmpeq_epi8(_mm_min_epu8(a, b), a); }
// Lanes read as signed bytes: all ones where a < b, where a > b.
inline Bytes below_signed(Bytes a, Bytes b) { return _mm_cmplt_epi8(a, b); }
inline Bytes above_signed(Bytes a, Bytes b) { return _mm_cmpgt_epi8(a, b); }
// a - b, or zero where b is larger; and a - b modulo 256.
inline Bytes minus_floored(Bytes a, Bytes b) { return _mm_subs_epu8(a, b); }
inline Bytes minus_wrapped(Bytes a, Bytes b) { return _mm_sub_epi8(a, b); }
// The lanes of `current` moved up by N, the top N lanes of `previous` filling the bottom.
template <int N>
inline Bytes shifted_in(Bytes current, Bytes previous) {
  return _mm_or_si128(_mm_slli_si128(current, N), _mm_srli_si128(previous, 16 - N));
}
inline bool any(Bytes mask) { return _mm_movemask_epi8(mask) != 0; }
inline bool any_high_bit(Bytes bytes) { return _mm_movemask_epi8(bytes) != 0; }
// The index of the first true lane of a comparison result, 16 when none is.
inline int first_true(Bytes mask) {
  const auto bits = static_cast<unsigned>(_mm_movemask_epi8(mask));
  return bits == 0 ? 16 : std::countr_zero(bits);
}
// A bit for each true lane of a comparison result, the first lane's lowest, kLaneBitStride
// bits apart.
inline constexpr int kLaneBitStride = 1;
inline constexpr std::uint64_t kAllLaneBits = 0xFFFF;  // lane_bits of all sixteen
inline std::uint64_t lane_bits(Bytes mask) { return static_cast<std::uint32_t>(_mm_movemask_epi8(mask)); }
// A bit for each true lane of four comparison results, sixty-four bytes: byte i's at bit i.
inline std::uint64_t bits_of(Bytes m0, Bytes m1, Bytes m2, Bytes m3) {
  return lane_bits(m0) | lane_bits(m1) << 16 | lane_bits(m2) << 32 | lane_bits(m3) << 48;
}
#else
using Bytes = uint8x16_t;

inline Bytes load(const char* at) { return vld1q_u8(reinterpret_cast<const std::uint8_t*>(at)); }
inline Bytes splat(std::uint8_t byte) { return vdupq_n_u8(byte); }
inline Bytes either(Bytes a, Bytes b) { return vorrq_u8(a, b); }
inline Bytes both(Bytes a, Bytes b) { return vandq_u8(a, b); }
inline Bytes but_not(Bytes a, Bytes b) { return vbicq_u8(a, b); }
inline Bytes differ(Bytes a, Bytes b) { return veorq_u8(a, b); }
inline Bytes equal(Bytes a, Bytes b) { return vceqq_u8(a, b); }
inline Bytes at_least(Bytes a, Bytes b) { return vcgeq_u8(a, b); }
inline Bytes at_most(Bytes a, Bytes b) { return vcleq_u8(a, b); }
inline Bytes below_signed(Bytes a, Bytes b) { return vcltq_s8(vreinterpretq_s8_u8(a), vreinterpretq_s8_u8(b)); }
inline Bytes above_signed(Bytes a, Bytes b) { return vcgtq_s8(vreinterpretq_s8_u8(a), vreinterpretq_s8_u8(b)); }
inline Bytes minus_floored(Bytes a, Bytes b) { return vqsubq_u8(a, b); }
inline Bytes minus_wrapped(Bytes a, Bytes b) { return vsubq_u8(a, b); }
template <int N>
inline Bytes shifted_in(Bytes current, Bytes previous) {
  return vextq_u8(previous, current, 16 - N);
}
inline bool any(Bytes mask) { return vmaxvq_u8(mask) != 0; }
inline bool any_high_bit(Bytes bytes) { return vmaxvq_u8(bytes) >= 0x80; }
// Narrowing by four bits gives one nibble per lane in a 64-bit word.
inline int first_true(Bytes mask) {
  const std::uint64_t nibbles = vget_lane_u64(vreinterpret_u64_u8(vshrn_n_u16(vreinterpretq_u16_u8(mask), 4)), 0);
  return nibbles == 0 ? 16 : std::countr_zero(nibbles) / 4;
}
inline constexpr int kLaneBitStride = 4;  // the top bit of each lane's nibble
inline constexpr std::uint64_t kAllLaneBits = 0x8888888888888888ULL;
inline std::uint64_t lane_bits(Bytes mask) {
  return vget_lane_u64(vreinterpret_u64_u8(vshrn_n_u16(vreinterpretq_u16_u8(mask), 4)), 0) & 0x8888888888888888ULL;
}
// A bit for each true lane of four comparison results, sixty-four bytes: byte i's at bit i. Each
// lane keeps its own bit, and three rounds of pairwise adds gather them.
inline std::uint64_t bits_of(Bytes m0, Bytes m1, Bytes m2, Bytes m3) {
  static constexpr std::uint8_t kBits[16] = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
  const Bytes bits = vld1q_u8(kBits);
  const Bytes low = vpaddq_u8(vandq_u8(m0, bits), vandq_u8(m1, bits));
  const Bytes high = vpaddq_u8(vandq_u8(m2, bits), vandq_u8(m3, bits));
  const Bytes sums = vpaddq_u8(low, high);
  return vgetq_lane_u64(vreinterpretq_u64_u8(vpaddq_u8(sums, sums)), 0);
}
#endif

}  // namespace korvane::vec
#endif
