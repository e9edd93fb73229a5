// Ordering the members of a large object whose keys hold no escapes, as the compact text orders
// them, by the bytes of their keys four at a time: a radix pass over four bytes of each key, then
// the next four for the members whose four were the same, so that most keys are read once or
// twice and never compared whole. Asks for no memory (see order_by_key).
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/byte_vector.h"

namespace korvane::json::detail {

namespace plain_keys {

// The lowest set bit is that of the first quote's lane (lanes above it may be set too).
inline std::uint64_t quote_lanes(std::uint64_t word) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL, kHighs = 0x8080808080808080ULL;
  const std::uint64_t v = word ^ (kOnes * '"');
  return (v - kOnes) & ~v & kHighs;
}

}  // namespace plain_keys

// The size of a key without escapes, from after its opening quote: up to the next quote, a word
// at a time. In a checked, padded text the words read end before the padding does.
inline std::size_t plain_key_size(const char* key) {
  for (std::size_t at = 0;; at += 8) {
    if (const std::uint64_t quotes = plain_keys::quote_lanes(load_word(key + at)); quotes != 0) {
      return at + static_cast<std::size_t>(std::countr_zero(quotes)) / 8;
    }
  }
}

// Four bytes of a key without escapes from `offset` on, which the key reaches, as a number that
// orders as they do; zeros past the key's end (no such key holds a zero byte).
inline std::uint32_t plain_key_chunk(const char* key, std::size_t offset) {
  const std::uint64_t word = load_word(key + offset);
  const std::uint64_t quotes = plain_keys::quote_lanes(word);
  const int kept = quotes == 0 ? 8 : std::countr_zero(quotes) / 8;
  const std::uint64_t bytes = kept >= 4 ? word : word & ((std::uint64_t{1} << (8 * kept)) - 1);
  return __builtin_bswap32(static_cast<std::uint32_t>(bytes));
}

namespace plain_keys {

// Orders [first, last) by `chunk` from its byte at `shift` down, a byte at a time in place.
template <typename Member>
void sort_by_chunk(Member* first, Member* last, int shift) {
  const auto size = static_cast<std::size_t>(last - first);
  if (size <= 32) {
    std::sort(first, last, [](const Member& a, const Member& b) { return a.chunk < b.chunk; });
    return;
  }
  const auto digit = [shift](const Member& m) { return (m.chunk >> shift) & 0xFF; };
  std::array<std::size_t, 257> starts{};
  for (const Member* m = first; m != last; ++m) ++starts[digit(*m) + 1];
  for (std::size_t d = 1; d < starts.size(); ++d) starts[d] += starts[d - 1];
  std::array<std::size_t, 256> next{};
  std::copy(starts.begin(), starts.end() - 1, next.begin());
  for (std::size_t d = 0; d < 256; ++d) {  // each member swapped into its digit's place
    while (next[d] < starts[d + 1]) {
      Member& m = first[next[d]];
      const auto home = digit(m);
      if (home == d) {
        ++next[d];
      } else {
        std::swap(m, first[next[home]++]);
      }
    }
  }
  if (shift == 0) return;
  for (std::size_t d = 0; d < 256; ++d) {
    if (starts[d + 1] - starts[d] > 1) sort_by_chunk(first + starts[d], first + starts[d + 1], shift - 8);
  }
}

inline constexpr int kChunkRounds = 16;  // then the rest of the keys are compared whole

}  // namespace plain_keys

// Orders [first, last) by key (`key(member)` is where its key starts, after its quote), and among
// equal keys by place (`place`); of equal keys all but the last get chunk 0 and place 0, to be
// dropped. Each member's `chunk` is the key's four bytes at `offset` on entry, which every key
// reaches.
template <typename Member, typename KeyOf, typename PlaceOf, typename Drop>
void order_plain_keys(Member* first, Member* last, std::size_t offset, KeyOf key, PlaceOf place, Drop drop,
                      int rounds = plain_keys::kChunkRounds) {
  plain_keys::sort_by_chunk(first, last, 24);
  for (Member* run = first; run != last;) {
    Member* run_end = run + 1;
    while (run_end != last && run_end->chunk == run->chunk) ++run_end;
    if (run_end - run > 1) {
      if ((run->chunk & 0xFF) == 0 || rounds == 0) {  // the keys end here, or are long and alike
        const auto before = [&](const Member& a, const Member& b) {
          const char *ka = key(a), *kb = key(b);
          const std::string_view left(ka + offset, plain_key_size(ka) - offset),
              right(kb + offset, plain_key_size(kb) - offset);
          return left != right ? left < right : place(a) < place(b);
        };
        std::sort(run, run_end, before);
        for (Member* m = run; m + 1 != run_end; ++m) {
          const char *ka = key(m[0]), *kb = key(m[1]);
          if (plain_key_size(ka) == plain_key_size(kb) && std::equal(ka, ka + plain_key_size(ka), kb)) drop(m[0]);
        }
      } else {
        for (Member* m = run; m != run_end; ++m) m->chunk = plain_key_chunk(key(*m), offset + 4);
        order_plain_keys(run, run_end, offset + 4, key, place, drop, rounds - 1);
      }
    }
    run = run_end;
  }
}

}  // namespace korvane::json::detail
