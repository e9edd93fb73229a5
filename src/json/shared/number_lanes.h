// The bytes of a number, sixteen at a time: how far the run of bytes a number may be made of
// (digits, '.', 'e', 'E', '+', '-') goes, and where its point and exponent bytes are, all found
// at once instead of run of digits after run of digits. The relay's quick check and writer take
// numbers shorter than sixteen bytes so: what they do next waits on one load, not on each run.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "common/byte_vector.h"

namespace korvane::json {

struct NumberLanes {
#if defined(KORVANE_BYTE_VECTOR)
  static constexpr int kStride = vec::kLaneBitStride;
#else
  static constexpr int kStride = 1;
#endif
  std::size_t size;        // how many bytes from p on a number may be made of; 16: all sixteen
  std::uint64_t points;    // the '.' among them, a bit for each (byte i at bit i * kStride, or above)
  std::uint64_t exponent;  // the e, E, + and - among them, but for the first byte

  // The byte of the lowest bit of `bits`, which is not 0.
  static std::size_t byte_of(std::uint64_t bits) { return static_cast<std::size_t>(std::countr_zero(bits) / kStride); }

  // Whether the bytes from `start` on, whose lanes these are, are a plain decimal of fewer than
  // sixteen bytes: digits after an optional '-', no 0 before another digit, no exponent, and at
  // most one point, with digits on both sides of it.
  bool plain_decimal(const char* start) const {
    const std::size_t sign = *start == '-' ? 1 : 0;
    const std::size_t whole_end = points == 0 ? size : byte_of(points);
    return size < 16 && exponent == 0 && whole_end > sign && (start[sign] != '0' || whole_end == sign + 1) &&
           (points == 0 || ((points & (points - 1)) == 0 && size > whole_end + 1));
  }
};

// The lanes of the sixteen bytes from p on, which can all be read.
inline NumberLanes number_lanes(const char* p) {
#if defined(KORVANE_BYTE_VECTOR)
  using namespace vec;
  const Bytes bytes = load(p);
  const Bytes digits = at_most(minus_wrapped(bytes, splat('0')), splat(9));
  const Bytes points = equal(bytes, splat('.'));
  const Bytes exponent = either(equal(either(bytes, splat(0x20)), splat('e')),  // 'E' | 0x20 is 'e'
                                either(equal(bytes, splat('+')), equal(bytes, splat('-'))));
  const std::uint64_t other = ~lane_bits(either(either(digits, points), exponent)) & kAllLaneBits;
  const std::uint64_t before_other = other == 0 ? ~std::uint64_t{0} : (other & (0 - other)) - 1;
  constexpr std::uint64_t kFirstLane = kAllLaneBits & ~(kAllLaneBits << kLaneBitStride);
  return {other == 0 ? 16 : NumberLanes::byte_of(other), lane_bits(points) & before_other,
          lane_bits(exponent) & before_other & ~kFirstLane};
#else
  NumberLanes lanes{16, 0, 0};
  for (std::size_t i = 0; i < 16; ++i) {
    const char c = p[i];
    if (c == '.') {
      lanes.points |= std::uint64_t{1} << i;
    } else if (c == 'e' || c == 'E' || c == '+' || c == '-') {
      if (i > 0) lanes.exponent |= std::uint64_t{1} << i;
    } else if (c < '0' || c > '9') {
      lanes.size = i;
      break;
    }
  }
  return lanes;
#endif
}

}  // namespace korvane::json
