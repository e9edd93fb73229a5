// Ordering the members of a large object whose keys hold no escapes, as the compact text orders
// them, by the bytes of their keys a chunk at a time: a radix pass over a chunk of each key, then
// the next chunk for the members whose chunks were the same, so that most keys are read once or
// twice and never compared whole. The first chunk holds as many bytes as the keys' bytes there
// let it (see KeyWindow): keys of few kinds of byte, such as ids in hex, hold little in a byte,
// and four of their bytes seldom tell them apart. Asks for no memory but a scratch on the stack.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>

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

// How a chunk holds its bytes: `bytes` of them, each a digit of a number in base `base` (0 past a
// key's end), the number times `scale`; so a chunk's last digit is (chunk / scale) % base.
struct ChunkForm {
  std::size_t bytes;
  std::uint32_t base, scale;
  bool ends_in(std::uint32_t chunk) const { return chunk / scale % base == 0; }
};
inline constexpr ChunkForm kRawChunks{4, 256, 1};  // four bytes as they are (plain_key_chunk)

// The bytes of every key from where they first differ: up to eight of them, each by its rank
// among the bytes found there, as digits of one number that fills 32 bits, so that a chunk holds
// five to eight bytes of keys made of few kinds of byte (seven of a hex id) and its top byte
// tells keys apart as well as any.
class KeyWindow {
 public:
  explicit KeyWindow(std::size_t offset) : offset_(offset) {}

  // Notes the bytes of the window of a key (where it starts, after its quote).
  void add(const char* key) {
    const std::uint64_t word = kept_bytes(key);
    for (int i = 0; i < 8; ++i) seen_[(word >> (8 * i)) & 0xFF] = 1;
  }
  // Ranks the bytes noted; false when a chunk would hold no more than four of them.
  bool rank() {
    std::uint32_t rank = 0;
    seen_[0] = 0;  // past the end
    for (std::size_t c = 0; c < seen_.size(); ++c) ranks_[c] = static_cast<std::uint8_t>(seen_[c] != 0 ? ++rank : 0);
    const std::uint64_t base = rank + 1;
    std::uint64_t span = 1;
    form_ = {0, static_cast<std::uint32_t>(base), 1};
    while (form_.bytes < 8 && span * base <= (std::uint64_t{1} << 32)) {
      span *= base;
      ++form_.bytes;
    }
    form_.scale = static_cast<std::uint32_t>((std::uint64_t{1} << 32) / span);
    return form_.bytes > 4;
  }
  std::size_t offset() const { return offset_; }
  const ChunkForm& form() const { return form_; }
  std::uint32_t chunk(const char* key) const {
    const std::uint64_t word = kept_bytes(key);
    std::uint32_t packed = 0;
    for (std::size_t i = 0; i < form_.bytes; ++i) packed = packed * form_.base + ranks_[(word >> (8 * i)) & 0xFF];
    return packed * form_.scale;
  }

 private:
  // Eight bytes of the key from the window on, zeros past its end.
  std::uint64_t kept_bytes(const char* key) const {
    const std::uint64_t word = load_word(key + offset_);
    const std::uint64_t quotes = plain_keys::quote_lanes(word);
    if (quotes == 0) return word;
    return word & ((std::uint64_t{1} << (std::countr_zero(quotes) & ~7)) - 1);  // below the quote's byte
  }

  std::size_t offset_;
  std::array<std::uint8_t, 256> seen_{}, ranks_{};
  ChunkForm form_ = kRawChunks;
};

namespace plain_keys {

// At most this many members are ordered through a scratch of the stack, not in place.
inline constexpr std::size_t kScratchMembers = 4096;

// Orders [first, last), whose chunks are the same above the byte at `shift`, by the bytes from
// there down: one pass over them counts each byte's digits, and a pass for each byte with
// more than one digit moves them to their places in `scratch` and back (least byte first). A
// pass has no chain of swaps to wait on, as the pass in place has.
template <typename Member>
void sort_through_scratch(Member* first, Member* last, int shift, Member* scratch) {
  const auto size = static_cast<std::uint32_t>(last - first);
  const int bytes = shift / 8 + 1;
  std::array<std::array<std::uint32_t, 256>, 4> counts{};
  for (const Member* m = first; m != last; ++m) {
    for (int i = 0; i < bytes; ++i) ++counts[i][(m->chunk >> (8 * i)) & 0xFF];
  }
  Member* from = first;
  Member* to = scratch;
  for (int i = 0; i < bytes; ++i) {
    std::array<std::uint32_t, 256>& places = counts[i];
    if (places[(from->chunk >> (8 * i)) & 0xFF] == size) continue;  // one digit for all
    std::uint32_t place = 0;
    for (std::uint32_t& count : places) place += std::exchange(count, place);
    for (const Member* m = from; m != from + size; ++m) to[places[(m->chunk >> (8 * i)) & 0xFF]++] = *m;
    std::swap(from, to);
  }
  if (from != first) std::copy(from, from + size, first);
}

// Orders [first, last) by `chunk` from its byte at `shift` down: a byte at a time in place, and
// the few members left of a digit through `scratch`.
template <typename Member>
void sort_by_chunk(Member* first, Member* last, int shift, Member* scratch) {
  const auto size = static_cast<std::size_t>(last - first);
  if (size <= 32) {
    std::sort(first, last, [](const Member& a, const Member& b) { return a.chunk < b.chunk; });
    return;
  }
  if (size <= kScratchMembers) return sort_through_scratch(first, last, shift, scratch);
  const auto digit = [shift](const Member& m) { return (m.chunk >> shift) & 0xFF; };
  std::array<std::size_t, 257> starts{};
  for (const Member* m = first; m != last; ++m) ++starts[digit(*m) + 1];
  for (std::size_t d = 1; d < starts.size(); ++d) starts[d] += starts[d - 1];
  std::array<std::size_t, 256> next{};
  std::copy(starts.begin(), starts.end() - 1, next.begin());
  // Rounds over the digits whose parts are not yet filled: each member of such a part from its
  // first open place on is swapped into the next place of its own digit, one member after
  // another, so that no swap waits on the member the one before brought; what a swap brings is
  // looked at in the next round. Each swap fills a place, and the last open part is filled when
  // all others are.
  std::array<std::uint8_t, 256> open_digits;
  std::size_t open_count = 0;
  for (std::size_t d = 0; d < 256; ++d) {
    if (starts[d + 1] != starts[d]) open_digits[open_count++] = static_cast<std::uint8_t>(d);
  }
  while (open_count > 1) {
    std::size_t still_open = 0;
    for (std::size_t i = 0; i < open_count; ++i) {
      const std::size_t d = open_digits[i], part_end = starts[d + 1];
      for (std::size_t at = next[d]; at != part_end; ++at) std::swap(first[at], first[next[digit(first[at])]++]);
      if (next[d] != part_end) open_digits[still_open++] = static_cast<std::uint8_t>(d);
    }
    open_count = still_open;
  }
  if (shift == 0) return;
  for (std::size_t d = 0; d < 256; ++d) {
    if (starts[d + 1] - starts[d] > 1) sort_by_chunk(first + starts[d], first + starts[d + 1], shift - 8, scratch);
  }
}

inline constexpr int kChunkRounds = 16;  // then the rest of the keys are compared whole

}  // namespace plain_keys

// Orders [first, last) by key (`key(member)` is where its key starts, after its quote), and among
// equal keys by place (`place`); of equal keys all but the last are handed to `drop`. Each
// member's `chunk` is the key's chunk at `offset` on entry, which every key reaches, in `form`.
// `scratch` holds kScratchMembers members.
template <typename Member, typename KeyOf, typename PlaceOf, typename Drop>
void order_plain_keys(Member* first, Member* last, std::size_t offset, const ChunkForm& form, KeyOf key, PlaceOf place,
                      Drop drop, Member* scratch, int rounds = plain_keys::kChunkRounds) {
  plain_keys::sort_by_chunk(first, last, 24, scratch);
  for (Member* run = first; run != last;) {
    Member* run_end = run + 1;
    while (run_end != last && run_end->chunk == run->chunk) ++run_end;
    if (run_end - run > 1) {
      if (form.ends_in(run->chunk) || rounds == 0) {  // the keys end here, or are long and alike
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
        for (Member* m = run; m != run_end; ++m) m->chunk = plain_key_chunk(key(*m), offset + form.bytes);
        order_plain_keys(run, run_end, offset + form.bytes, kRawChunks, key, place, drop, scratch, rounds - 1);
      }
    }
    run = run_end;
  }
}

// The same for members whose chunks are not yet taken: the first of each key from its window when
// that holds more than four bytes, else its four bytes from the window's offset.
template <typename Member, typename KeyOf, typename PlaceOf, typename Drop>
void order_plain_keys(Member* first, Member* last, KeyWindow& window, KeyOf key, PlaceOf place, Drop drop) {
  std::array<Member, plain_keys::kScratchMembers> scratch;  // 32 KiB for members of two words
  for (Member* m = first; m != last; ++m) window.add(key(*m));
  if (window.rank()) {
    for (Member* m = first; m != last; ++m) m->chunk = window.chunk(key(*m));
    order_plain_keys(first, last, window.offset(), window.form(), key, place, drop, scratch.data());
    return;
  }
  for (Member* m = first; m != last; ++m) m->chunk = plain_key_chunk(key(*m), window.offset());
  order_plain_keys(first, last, window.offset(), kRawChunks, key, place, drop, scratch.data());
}

}  // namespace korvane::json::detail
