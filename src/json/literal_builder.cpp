#include "json/literal_builder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <numeric>

#include "common/utf8.h"
#include "json/escape.h"
#include "json/grammar.h"
#include "json/writer.h"

namespace korvane::json::detail {
namespace {

// Objects up to this size are reordered through a copy of the whole; larger ones move their
// largest member in place.
constexpr std::size_t kSmallObject = 4096;

// The keys of objects up to this many members are remembered to reuse their order.
constexpr std::size_t kRememberedKeys = 16;

// A key's first 8 bytes, big-endian, zero-padded; `readable` bytes can be read from its start.
std::uint64_t key_prefix(std::string_view key, std::size_t readable) {
  if (readable < 8) {
    std::uint64_t prefix = 0;
    for (std::size_t i = 0; i < 8; ++i)
      prefix = (prefix << 8) | (i < key.size() ? static_cast<unsigned char>(key[i]) : 0u);
    return prefix;
  }
  std::uint64_t word = 0;
  std::memcpy(&word, key.data(), sizeof word);
  if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
  return key.size() >= 8 ? word : word & ~(~std::uint64_t{0} >> (8 * key.size()));
}

}  // namespace

bool is_written_form(std::string_view text) {
  std::size_t at = text.front() == '-' ? 1 : 0;
  const std::size_t whole_start = at;
  while (at < text.size() && text[at] != '.' && text[at] != 'e' && text[at] != 'E') ++at;
  if (at == text.size() || text[at] != '.') return false;  // no point, or an exponent
  const std::size_t whole = at - whole_start, fraction_start = at + 1;
  std::size_t zeros = 0;  // leading zeros of the fraction
  for (at = fraction_start; at < text.size(); ++at) {
    if (text[at] == 'e' || text[at] == 'E') return false;
    if (zeros == at - fraction_start && text[at] == '0') ++zeros;
  }
  const std::size_t fraction = text.size() - fraction_start;
  if (text.back() == '0' && fraction != 1) return false;  // trailing zeros are dropped
  const bool lone_zero = fraction == 1 && text.back() == '0';
  if (whole != 1 || text[whole_start] != '0') return whole + (lone_zero ? 0 : fraction) <= 15;
  // 0.xxx: plain notation down to 1e-5
  return lone_zero || (zeros <= 4 && fraction - zeros <= 15);
}

inline void LiteralBuilder::number(const Number& number) {
  before_value();
  if (number.kind != Number::Kind::kFloat || is_written_form(number.text)) {
    out_.append(number.text);  // integers, and floats already in their written form, as read
    return;
  }
  number_.clear();
  if (!append_number_text_shortest(number_, number.text)) append_double(number_, number.float_value());
  out_.append(number_);
}

void LiteralText::character(char c) {
  if (is_special(c)) return append_escape(out_, c, true);
  out_.push_back(c);
}

void LiteralText::code_point(char32_t c) {
  if (c < 0x80) return character(static_cast<char>(c));
  append_utf8(out_, c);
}

// The comma before a member when there is one, then its key and colon. A key without escapes
// holds no quote, backslash or control character: it is copied as it is, in one stretch.
inline void LiteralBuilder::write_key(const StringRead& key, bool first) {
  if (key.escaped) {
    if (!first) out_.push_back(',');
    out_.append(kQuote);
    append_escaped(out_, key_text_.text(), true);
    out_.append(kQuote);
    out_.push_back(':');
    return;
  }
  const std::size_t size = (first ? 0 : 1) + 2 * kQuote.size() + key.raw.size() + 1;
  char* at = out_.tail_or_throw(size);
  if (!first) *at++ = ',';
  copy_bytes(at, kQuote.data(), kQuote.size());
  copy_bytes(at + kQuote.size(), key.raw.data(), key.raw.size());
  copy_bytes(at + kQuote.size() + key.raw.size(), kQuote.data(), kQuote.size());
  at[2 * kQuote.size() + key.raw.size()] = ':';
  out_.commit(size);
}

void LiteralBuilder::begin_array() {
  before_value();
  out_.push_back('[');
  open_.push_back({false});
}

void LiteralBuilder::end_array() {
  open_.pop_back();
  out_.push_back(']');
}

void LiteralBuilder::begin_object() {
  before_value();
  out_.push_back('{');
  open_.push_back({true, true, true, members_.size(), escaped_keys_.size()});
  ++objects_open_;
}

int LiteralBuilder::compare_keys(std::size_t a, std::size_t b) const {
  const Member& first = members_[a];
  const Member& second = members_[b];
  if (first.prefix != second.prefix) return first.prefix < second.prefix ? -1 : 1;
  if (first.key_length <= 8 && second.key_length <= 8) {  // equal up to the padding
    return first.key_length == second.key_length ? 0 : (first.key_length < second.key_length ? -1 : 1);
  }
  return key_of(first).compare(key_of(second));
}

inline void LiteralBuilder::key(const StringRead& key) {
  Container& object = open_.back();
  const std::size_t start = out_.size() + (object.empty ? 0 : 1);
  const std::string_view text = key_text_.text();
  std::size_t escaped = kVerbatim;
  if (key.escaped) {
    escaped = escaped_keys_.size();
    escaped_keys_.append(text);
  }
  write_key(key, object.empty);  // before comparing: a long key is compared in the output
  members_.push_back({start, text.size(), escaped, key_prefix(text, key.escaped ? 0 : key.readable)});
  if (!object.empty && compare_keys(members_.size() - 2, members_.size() - 1) >= 0) object.in_order = false;
  object.empty = false;
}

void LiteralBuilder::end_object() {
  const Container object = open_.back();
  open_.pop_back();
  --objects_open_;
  if (!object.in_order) {
    if (!same_keys_as_last(object)) order_members(object);
    sort_members(object);
  }
  members_.resize(object.first_member);
  escaped_keys_.resize(object.first_escaped);
  out_.push_back('}');
}

// Fills order_ with the object's members (indices from its first) in key order, keeping only
// the last of repeated keys.
void LiteralBuilder::order_members(const Container& object) {
  const std::size_t first = object.first_member, count = members_.size() - first;
  std::vector<std::size_t>& order = order_;
  order.resize(count);
  std::iota(order.begin(), order.end(), first);
  auto before = [&](std::size_t a, std::size_t b) { return key_before(a, b); };
  if (count <= 16) {
    for (std::size_t k = 1; k < count; ++k) {  // small objects: insertion sort, no calls out
      const std::size_t moving = order[k];
      std::size_t at = k;
      for (; at > 0 && before(moving, order[at - 1]); --at) order[at] = order[at - 1];
      order[at] = moving;
    }
  } else {
    std::sort(order.begin(), order.end(), before);
  }
  std::size_t kept = 0;
  for (std::size_t k = 0; k < count; ++k) {  // equal keys are adjacent, the last one last
    if (k + 1 < count && compare_keys(order[k], order[k + 1]) == 0) continue;
    order[kept++] = order[k] - first;
  }
  order.resize(kept);
  last_keys_.clear();
  for (std::size_t i = first; i < members_.size() && last_keys_.size() < kRememberedKeys; ++i) {
    if (members_[i].key_length > 8) break;  // only short keys are told apart by their prefix alone
    last_keys_.push_back({members_[i].prefix, members_[i].key_length});
  }
  if (last_keys_.size() != count) last_keys_.clear();
}

// Whether the object's keys are, in order, those of the last object ordered: order_ holds
// their order then. Records in an array mostly have the same keys in the same order.
bool LiteralBuilder::same_keys_as_last(const Container& object) const {
  const std::size_t first = object.first_member, count = members_.size() - first;
  if (last_keys_.empty() || last_keys_.size() != count) return false;
  for (std::size_t k = 0; k < count; ++k) {
    if (members_[first + k].prefix != last_keys_[k].prefix || members_[first + k].key_length != last_keys_[k].length) {
      return false;
    }
  }
  return true;
}

// Rewrites an object's members in key order, keeping only the last of repeated keys. The
// largest member of a large object is moved in place and only the others are copied aside.
void LiteralBuilder::sort_members(const Container& object) {
  char* const text = out_.data();
  const std::size_t first = object.first_member, count = members_.size() - first, end = out_.size();
  const std::size_t region = members_[first].start;
  auto begin_of = [&](std::size_t i) { return members_[first + i].start; };
  auto end_of = [&](std::size_t i) { return i + 1 < count ? begin_of(i + 1) - 1 : end; };  // drops the comma
  auto size_of = [&](std::size_t i) { return end_of(i) - begin_of(i); };

  if (end - region <= kSmallObject) {  // copied aside whole and written back in order
    set_aside_.assign(text + region, end - region);
    // Local copies: the bytes written could alias anything, and the members would be read again.
    const char* const aside = set_aside_.data();
    const Member* const member = members_.data() + first;
    const std::size_t* const order = order_.data();
    const std::size_t kept = order_.size();
    std::size_t at = region;
    for (std::size_t k = 0; k < kept; ++k) {
      const std::size_t i = order[k];
      const std::size_t from = member[i].start, to = i + 1 < count ? member[i + 1].start - 1 : end;
      if (k > 0) text[at++] = ',';
      copy_bytes(text + at, aside + (from - region), to - from);
      at += to - from;
    }
    out_.truncate(at);
    return;
  }

  std::size_t largest = 0, largest_offset = 0, offset = 0;  // where the largest member lands
  for (std::size_t k = 0; k < order_.size(); ++k) {
    if (size_of(order_[k]) > size_of(order_[largest])) {
      largest = k;
      largest_offset = offset;
    }
    offset += size_of(order_[k]) + 1;
  }
  set_aside_.clear();
  for (std::size_t k = 0; k < order_.size(); ++k) {
    if (k != largest) set_aside_.append(text + begin_of(order_[k]), size_of(order_[k]));
  }
  std::memmove(text + region + largest_offset, text + begin_of(order_[largest]), size_of(order_[largest]));
  std::size_t at = region, from = 0;
  for (std::size_t k = 0; k < order_.size(); ++k) {
    if (k > 0) text[at++] = ',';
    const std::size_t size = size_of(order_[k]);
    if (k != largest) {
      std::memcpy(text + at, set_aside_.data() + from, size);
      from += size;
    }
    at += size;
  }
  out_.truncate(region + offset - 1);
}

bool LiteralBuilder::drain() {
  if (sink_ == nullptr) return true;
  if (!stopped_ && out_.size() > 0) stopped_ = !sink_->put(out_.view());
  out_.truncate(0);
  return !stopped_;
}

// Between two places where no object is open, the output holds at most a piece and what a span
// of that length becomes: escaping doubles a string at most, and a number grows at most to four
// and a half times its text ("9e15" is 9000000000000000.0). Escaped keys fit in it.
void LiteralBuilder::reserve_for(std::size_t span, std::size_t piece, std::size_t members) {
  const std::size_t written = 5 * span + 4096;
  (void)out_.tail_or_throw(piece + written);
  key_scratch_.reserve(span);
  number_.reserve(64);
  open_.reserve(kMaxDepth + 1);
  members_.reserve(members);
  order_.reserve(members);
  escaped_keys_.reserve(span);
  last_keys_.reserve(kRememberedKeys);
  set_aside_.reserve(written);
}

void write_literal_value(Cursor& in, LiteralBuilder& builder) { (void)read_json(in, builder, kMaxDepth); }

}  // namespace korvane::json::detail
