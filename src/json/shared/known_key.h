// The memory of key order: objects in a row (records) mostly have the same keys in the same
// order, so the key last seen at each place of an object is kept as a KnownKey, and the text at
// that place of the next object is compared with it a word at a time instead of being read as a
// string. The reader's grammar, the relay's quick check and its writer all keep keys so.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "common/byte_vector.h"

namespace korvane::json {

class KnownKey {
 public:
  // Left as it is: an array of them is not cleared, and counts beside it say which hold a key.
  // KnownKey{} knows no key and matches nothing.
  KnownKey() = default;

  // `key` as written between its quotes, in text that outlives this; `readable` bytes from
  // key.data() on can be read (the key, its closing quote and what follows).
  KnownKey(std::string_view key, std::size_t readable) : data_(key.data()), size_(key.size()) {
    if (size_ >= kWordBytes) return;  // compared by its last word, then memcmp
    const std::size_t low = std::min<std::size_t>(size_ + 1, 8), high = size_ + 1 - low;
    masks_ = {low_bytes(low), low_bytes(high)};
    if (readable >= kWordBytes) {  // the quote is the text's own
      words_ = {load_word(key.data()) & masks_[0], load_word(key.data() + 8) & masks_[1]};
      return;
    }
    std::array<char, kWordBytes> bytes{};
    std::memcpy(bytes.data(), key.data(), size_);
    bytes[size_] = '"';
    words_ = {load_word(bytes.data()), load_word(bytes.data() + 8)};
  }

  std::size_t size() const { return size_; }

  // Whether the bytes at p are this key and its closing quote; `readable` bytes from p on can be
  // read. Past the quote then: p + size() + 1.
  bool matches(const char* p, std::size_t readable) const {
    if (data_ == nullptr || readable <= size_) return false;
    if (size_ < kWordBytes && readable >= kWordBytes) {
      return (((load_word(p) ^ words_[0]) & masks_[0]) | ((load_word(p + 8) ^ words_[1]) & masks_[1])) == 0;
    }
    if (p[size_] != '"') return false;
    if (size_ < 8) return std::memcmp(p, data_, size_) == 0;
    // Long keys that differ, such as ids, mostly differ in their last bytes: those go first.
    return load_word(p + size_ - 8) == load_word(data_ + size_ - 8) && std::memcmp(p, data_, size_ - 8) == 0;
  }

 private:
  static constexpr std::size_t kWordBytes = 16;  // a shorter key and its quote: two words
  static std::uint64_t low_bytes(std::size_t count) {
    return count >= 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * count)) - 1;
  }

  const char* data_;
  std::size_t size_;
  std::array<std::uint64_t, 2> words_, masks_;
};

// What comes before a member's value in a record: a comma (none before the first member), the
// key in its quotes and the colon. Compared with the text at once, in two words, when it is
// shorter than 16 bytes; else as its parts.
class KnownLead {
 public:
  KnownLead() = default;  // matches nothing

  // The lead of the member whose key is `key` (as KnownKey takes it), after `separator` (',' or
  // none: '\0').
  KnownLead(char separator, std::string_view key, std::size_t readable)
      : key_(key, readable),
        separated_(separator != '\0'),
        size_(key.size() + 3 + (separated_ ? 1 : 0)),
        in_words_(size_ < kWordBytes) {
    if (!in_words_) return;
    std::array<char, kWordBytes> bytes{};
    char* at = bytes.data();
    if (separated_) *at++ = separator;
    *at++ = '"';
    at = std::copy(key.begin(), key.end(), at);
    *at++ = '"';
    *at = ':';
    const std::size_t low = std::min<std::size_t>(size_, 8), high = size_ - low;
    masks_ = {low_bytes(low), low_bytes(high)};
    words_ = {load_word(bytes.data()) & masks_[0], load_word(bytes.data() + 8) & masks_[1]};
  }

  std::size_t size() const { return size_; }

  // Whether the bytes at p are this lead; `readable` bytes from p on can be read. The value
  // starts at p + size() then.
  bool matches(const char* p, std::size_t readable) const {
    if (in_words_ && readable >= kWordBytes) {
      return (((load_word(p) ^ words_[0]) & masks_[0]) | ((load_word(p + 8) ^ words_[1]) & masks_[1])) == 0;
    }
    const std::size_t quote = separated_ ? 1 : 0;
    return size_ != 0 && readable > size_ && (!separated_ || p[0] == ',') && p[quote] == '"' &&
           key_.matches(p + quote + 1, readable - quote - 1) && p[size_ - 1] == ':';
  }

 private:
  static constexpr std::size_t kWordBytes = 16;
  static std::uint64_t low_bytes(std::size_t count) {
    return count >= 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * count)) - 1;
  }

  KnownKey key_;
  bool separated_ = false;
  std::size_t size_ = 0;  // 0: no lead
  bool in_words_ = false;
  std::array<std::uint64_t, 2> words_{}, masks_{};
};

}  // namespace korvane::json
