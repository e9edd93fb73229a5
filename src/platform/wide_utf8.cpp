#include "platform/wide_utf8.h"

#include "platform/features.h"

#if KORVANE_HAVE_AVX2_UTF8
#include <immintrin.h>

#include <cstdint>
#include <cstring>
#endif

namespace korvane::platform {

#if KORVANE_HAVE_AVX2_UTF8
namespace {

#define KORVANE_AVX2 __attribute__((target("avx2")))

// Each pair of bytes is classed by three table lookups, on the first byte's high and low nibbles
// and the second byte's high one; a bit set in all three names an error the pair makes. A byte
// that must be the third or fourth of a sequence is found by the bytes two and three before it.
// (Keiser and Lemire, "Validating UTF-8 in less than one instruction per byte", 2021.)
constexpr std::uint8_t kTooShort = 1 << 0;      // a lead or ASCII byte, then a lead byte or ASCII
constexpr std::uint8_t kTooLong = 1 << 1;       // ASCII, then a continuation byte
constexpr std::uint8_t kOverlong3 = 1 << 2;     // E0, then 80..9F
constexpr std::uint8_t kTooLarge = 1 << 3;      // F4, then 90..BF; or F5..FF
constexpr std::uint8_t kSurrogate = 1 << 4;     // ED, then A0..BF
constexpr std::uint8_t kOverlong2 = 1 << 5;     // C0 or C1
constexpr std::uint8_t kTooLarge1000 = 1 << 6;  // F5..FF, then 80..8F
constexpr std::uint8_t kOverlong4 = 1 << 6;     // F0, then 80..8F
constexpr std::uint8_t kTwoContinuations = 1 << 7;
constexpr std::uint8_t kCarry = kTooShort | kTooLong | kTwoContinuations;  // whatever the first's low nibble

KORVANE_AVX2 inline __m256i table(std::uint8_t t0, std::uint8_t t1, std::uint8_t t2, std::uint8_t t3, std::uint8_t t4,
                                  std::uint8_t t5, std::uint8_t t6, std::uint8_t t7, std::uint8_t t8, std::uint8_t t9,
                                  std::uint8_t t10, std::uint8_t t11, std::uint8_t t12, std::uint8_t t13,
                                  std::uint8_t t14, std::uint8_t t15) {
  const auto c = [](std::uint8_t v) { return static_cast<char>(v); };
  return _mm256_setr_epi8(c(t0), c(t1), c(t2), c(t3), c(t4), c(t5), c(t6), c(t7), c(t8), c(t9), c(t10), c(t11), c(t12),
                          c(t13), c(t14), c(t15), c(t0), c(t1), c(t2), c(t3), c(t4), c(t5), c(t6), c(t7), c(t8), c(t9),
                          c(t10), c(t11), c(t12), c(t13), c(t14), c(t15));
}

struct Tables {
  __m256i first_high, first_low, second_high, low_nibble, last_bytes_below;
};

KORVANE_AVX2 Tables make_tables() {
  constexpr std::uint8_t kLarge = kCarry | kTooLarge | kTooLarge1000;
  constexpr std::uint8_t kContinuation = kTooLong | kOverlong2 | kTwoContinuations;
  return {
      table(kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTwoContinuations,
            kTwoContinuations, kTwoContinuations, kTwoContinuations, kTooShort | kOverlong2, kTooShort,
            kTooShort | kOverlong3 | kSurrogate, kTooShort | kTooLarge | kTooLarge1000 | kOverlong4),
      table(kCarry | kOverlong3 | kOverlong2 | kOverlong4, kCarry | kOverlong2, kCarry, kCarry, kCarry | kTooLarge,
            kLarge, kLarge, kLarge, kLarge, kLarge, kLarge, kLarge, kLarge, kLarge | kSurrogate, kLarge, kLarge),
      table(kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort,
            kContinuation | kOverlong3 | kTooLarge1000 | kOverlong4, kContinuation | kOverlong3 | kTooLarge,
            kContinuation | kSurrogate | kTooLarge, kContinuation | kSurrogate | kTooLarge, kTooShort, kTooShort,
            kTooShort, kTooShort),
      _mm256_set1_epi8(0x0F),
      // A block ends inside a sequence when its last byte is a lead, or one of the two before it
      // starts a sequence longer than what is left.
      _mm256_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                       -1, -1, -1, -1, -1, static_cast<char>(0xEF), static_cast<char>(0xDF), static_cast<char>(0xBF)),
  };
}

// The 32 bytes before `current` ends, from `previous` and `current`, moved by N.
template <int N>
KORVANE_AVX2 inline __m256i before(__m256i current, __m256i previous) {
  return _mm256_alignr_epi8(current, _mm256_permute2x128_si256(previous, current, 0x21), 16 - N);
}

KORVANE_AVX2 inline __m256i block_errors(const Tables& t, __m256i current, __m256i previous) {
  const __m256i before1 = before<1>(current, previous);
  const __m256i first_high =
      _mm256_shuffle_epi8(t.first_high, _mm256_and_si256(_mm256_srli_epi16(before1, 4), t.low_nibble));
  const __m256i first_low = _mm256_shuffle_epi8(t.first_low, _mm256_and_si256(before1, t.low_nibble));
  const __m256i second_high =
      _mm256_shuffle_epi8(t.second_high, _mm256_and_si256(_mm256_srli_epi16(current, 4), t.low_nibble));
  const __m256i pair = _mm256_and_si256(_mm256_and_si256(first_high, first_low), second_high);
  const __m256i third =
      _mm256_subs_epu8(before<2>(current, previous), _mm256_set1_epi8(static_cast<char>(0xE0 - 0x80)));
  const __m256i fourth =
      _mm256_subs_epu8(before<3>(current, previous), _mm256_set1_epi8(static_cast<char>(0xF0 - 0x80)));
  const __m256i continued = _mm256_and_si256(_mm256_or_si256(third, fourth), _mm256_set1_epi8(static_cast<char>(0x80)));
  return _mm256_xor_si256(continued, pair);
}

KORVANE_AVX2 inline __m256i ends_inside(const Tables& t, __m256i block) {
  return _mm256_subs_epu8(block, t.last_bytes_below);
}

KORVANE_AVX2 inline __m256i load(const char* at) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at)); }

struct Check {
  __m256i previous, error, incomplete;  // the block before, what is wrong so far, and whether it ends a sequence
};

KORVANE_AVX2 inline void check_block(const Tables& t, Check& check, __m256i current) {
  check.error = _mm256_or_si256(check.error, block_errors(t, current, check.previous));
  check.incomplete = ends_inside(t, current);
  check.previous = current;
}

KORVANE_AVX2 bool valid(const char* data, std::size_t size) {
  const Tables t = make_tables();
  Check check{_mm256_setzero_si256(), _mm256_setzero_si256(), _mm256_setzero_si256()};
  std::size_t pos = 0;
  for (; pos + 64 <= size; pos += 64) {  // an ASCII block only needs the one before it whole
    const __m256i low = load(data + pos), high = load(data + pos + 32);
    if (_mm256_movemask_epi8(_mm256_or_si256(low, high)) == 0) {
      check.error = _mm256_or_si256(check.error, check.incomplete);
      check.incomplete = _mm256_setzero_si256();
      check.previous = high;
      continue;
    }
    check_block(t, check, low);
    check_block(t, check, high);
  }
  char tail[64] = {};  // the rest, then zeros: a sequence cut off shows as a missing continuation
  std::memcpy(tail, data + pos, size - pos);
  check_block(t, check, load(tail));
  check_block(t, check, load(tail + 32));
  const __m256i error = _mm256_or_si256(check.error, check.incomplete);
  return _mm256_testz_si256(error, error) != 0;
}

}  // namespace

bool has_wide_utf8_check() {
  static const bool has_avx2 = __builtin_cpu_supports("avx2") != 0;
  return has_avx2;
}

bool wide_utf8_valid(const char* data, std::size_t size) { return valid(data, size); }

#else

bool has_wide_utf8_check() { return false; }
bool wide_utf8_valid(const char*, std::size_t) { return false; }

#endif

}  // namespace korvane::platform
