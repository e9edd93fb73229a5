// Objects too large to be held while they are written: indexed, ordered by key, and written
// member by member from the text, so that what is written goes on at once.
#include <algorithm>
#include <bit>
#include <cstring>

#include "json/read/cursor.h"
#include "json/read/grammar.h"
#include "json/relay/literal_writer.h"
#include "json/relay/member_order.h"
#include "json/relay/plain_key_order.h"
#include "json/shared/whitespace.h"
#include "json/write/escape.h"

namespace korvane::json::detail {
namespace {

// A key without escapes, from after its opening quote.
inline std::string_view plain_key(const char* start) { return {start, plain_key_size(start)}; }

// How many of the first `limit` bytes of two texts are the same, a word at a time (eight bytes
// past `limit` can be read).
inline std::size_t common_start(const char* a, const char* b, std::size_t limit) {
  for (std::size_t same = 0; same < limit; same += 8) {
    if (const std::uint64_t differ = load_word(a + same) ^ load_word(b + same); differ != 0) {
      return std::min(limit, same + static_cast<std::size_t>(std::countr_zero(differ)) / 8);
    }
  }
  return limit;
}

// The size of the key whose opening quote would be bit `bit` of the block, when it is there and
// ends in the block with no backslash in it; -1 when it is to be read from the text.
inline int plain_key_in_block(const BracketBlock& block, int bit) {
  if (bit > 62 || (block.quotes >> bit & 1) == 0) return -1;
  const std::uint64_t quotes_after = block.quotes >> (bit + 1);
  if (quotes_after == 0) return -1;
  const int size = std::countr_zero(quotes_after);
  const std::uint64_t backslashes = block.backslashes >> (bit + 1) & ((std::uint64_t{1} << size) - 1);
  return backslashes == 0 ? size : -1;
}

}  // namespace

// The outermost object open, written so far in the order of the text, is written again in key
// order: what was written of it is dropped, and so is all that was noted of its members.
const char* LiteralWriter::write_held_in_key_order(const char* end) {
  const Frame& held = frames_[held_frame_];
  out_.truncate(held_out_);
  members_.resize(held.first_member);
  decoded_keys_.resize(held.first_decoded);
  frames_.resize(held_frame_);
  objects_open_ = 0;
  return write_in_key_order(held_open_, end);
}

// Writes the object whose '{' is at `open` member by member in key order, the last of repeated
// keys only; past its '}'. Nothing is held: each member's value is written as it comes.
const char* LiteralWriter::write_in_key_order(const char* open, const char* end) {
  const std::size_t first = keyed_.size();
  IndexedKeys keys;
  const char* const after = index_members(open, end, keys);
  order_keyed(open, end, first, keys);
  out_.push_back('{');
  const std::size_t outer_base = base_;
  base_ = frames_.size();
  // Members in key order lie all over the text: each is asked for a few members ahead, the
  // lines of its key and of the start of its value (a short member mostly spans two or three).
  constexpr std::size_t kAhead = 8;
  for (std::size_t k = first; k < keyed_.size(); ++k) {
    if (k + kAhead < keyed_.size()) {
      const char* const ahead = open + (keyed_[k + kAhead].at & ~kDecodeKey);
      for (const std::size_t line : {0, 48, 112}) __builtin_prefetch(ahead + line);
    }
    if (out_.size() >= piece_) (void)drain();
    const char* const colon = skip_json_space(put_keyed_key(open, end, keyed_[k], k == first), end);
    (void)write_value(skip_json_space(colon + 1, end), end);
  }
  base_ = outer_base;
  out_.push_back('}');
  keyed_.resize(first);
  return after;
}

// Appends the object's members to keyed_ in the order of the text; past its '}'. The object is
// read sixty-four bytes at a time, its strings told by their quotes: outside them, its '{' and
// the commas at its own depth begin its members, and the bracket back to no depth ends it.
const char* LiteralWriter::index_members(const char* open, const char* end, IndexedKeys& keys) {
  std::uint64_t escape_carry = 0, in_string = 0;  // all ones when a block ends inside a string
  std::size_t depth = 0;
  for (const char* p = open;; p += kStringBlockBytes) {
    const BracketBlock block = bracket_block(p);
    const std::uint64_t inside = prefix_xor(block.quotes & ~escaped_bits(block.backslashes, escape_carry)) ^ in_string;
    in_string = inside >> 63 != 0 ? ~std::uint64_t{0} : 0;
    const std::uint64_t opens = block.opens & ~inside, closes = block.closes & ~inside;
    for (std::uint64_t marks = opens | closes | (block.commas & ~inside); marks != 0; marks &= marks - 1) {
      const int bit = std::countr_zero(marks);
      const std::uint64_t mark = std::uint64_t{1} << bit;
      if ((opens & mark) != 0) {
        if (depth++ != 0) continue;
      } else if ((closes & mark) != 0) {
        if (--depth == 0) return p + bit + 1;
        continue;
      } else if (depth != 1) {
        continue;
      }
      if (const int size = plain_key_in_block(block, bit + 1); size >= 0) {  // a member begins after it
        note_key(open, p + bit + 1, static_cast<std::size_t>(size), true, keys);
      } else {
        index_member(open, skip_json_space(p + bit + 1, end), end, keys);
      }
    }
    if (end - p <= static_cast<std::ptrdiff_t>(kStringBlockBytes)) return end;
  }
}

// Notes the member whose key's opening quote is at `key`, if one is there (not in "{}").
void LiteralWriter::index_member(const char* open, const char* key, const char* end, IndexedKeys& keys) {
  if (key >= end || *key != '"') return;
  WrittenAs kind;
  const char* const key_stop = literal_scalars::key_end(key + 1, end, kind);
  note_key(open, key, static_cast<std::size_t>(key_stop - key - 1), kind == WrittenAs::kString, keys);
}

// Notes the member whose key's opening quote is at `key`: where it is, and how much of its start
// all plain keys so far share.
void LiteralWriter::note_key(const char* open, const char* key, std::size_t size, bool plain, IndexedKeys& keys) {
  const auto at = static_cast<std::uint32_t>(key + 1 - open);
  keyed_.push_back({plain ? at : at | kDecodeKey, 0});
  if (!plain) {
    keys.all_plain = false;
  } else if (keys.first_plain == nullptr) {
    keys.first_plain = key + 1;
    keys.common = size;
  } else {
    keys.common = common_start(keys.first_plain, key + 1, std::min(keys.common, size));
  }
}

// A member's key, decoded into `decoded` when it holds escapes.
std::string_view LiteralWriter::keyed_key(const char* open, const char* end, const Keyed& member,
                                          std::string& decoded) {
  const char* const start = open + (member.at & ~kDecodeKey);
  if ((member.at & kDecodeKey) == 0) return plain_key(start);
  WrittenAs kind;
  const char* const stop = literal_scalars::key_end(start, end, kind);
  Cursor in(std::string_view(start, static_cast<std::size_t>(stop - start) + 1));  // with its closing quote
  in.assume_valid_utf8();
  StringRead read;
  decoded.clear();
  DecodedText text(decoded);
  (void)read_string<false>(in, read, text);
  return text.text();
}

// Orders keyed_[first..] by key, the text's order among equal keys, and keeps the last of each.
// The bytes every plain key starts with are passed over: the ones after them tell most keys apart.
void LiteralWriter::order_keyed(const char* open, const char* end, std::size_t first, const IndexedKeys& keys) {
  const auto members = keyed_.begin() + static_cast<std::ptrdiff_t>(first);
  if (keys.all_plain) {
    KeyWindow window(keys.common);
    order_plain_keys(
        keyed_.data() + first, keyed_.data() + keyed_.size(), window, [open](const Keyed& m) { return open + m.at; },
        [](const Keyed& m) { return m.at; }, [](Keyed& m) { m.at = 0; });
    keyed_.erase(std::remove_if(members, keyed_.end(), [](const Keyed& m) { return m.at == 0; }), keyed_.end());
    return;
  }
  for (auto member = members; member != keyed_.end(); ++member) {
    if ((member->at & kDecodeKey) == 0) member->chunk = plain_key_chunk(open + member->at, keys.common);
  }
  const auto before = [&](const Keyed& a, const Keyed& b) {
    if (((a.at | b.at) & kDecodeKey) == 0 && a.chunk != b.chunk) return a.chunk < b.chunk;
    const int by_key = keyed_key(open, end, a, left_key_).compare(keyed_key(open, end, b, right_key_));
    return by_key != 0 ? by_key < 0 : (a.at & ~kDecodeKey) < (b.at & ~kDecodeKey);
  };
  const auto same_key = [&](const Keyed& a, const Keyed& b) {
    return (((a.at | b.at) & kDecodeKey) != 0 || a.chunk == b.chunk) &&
           keyed_key(open, end, a, left_key_) == keyed_key(open, end, b, right_key_);
  };
  keyed_.erase(detail::order_by_key(members, keyed_.end(), before, same_key), keyed_.end());
}

// The comma before a member when there is one, then its key and colon; past the key's closing
// quote in the text.
const char* LiteralWriter::put_keyed_key(const char* open, const char* end, const Keyed& member, bool first) {
  if (!first) out_.push_back(',');
  out_.append(kLiteralQuote);
  const char* const key = open + (member.at & ~kDecodeKey);
  const char* after = nullptr;
  if ((member.at & kDecodeKey) == 0) {
    const std::string_view plain = plain_key(key);
    out_.append(plain);  // no quote, backslash or control character in it
    after = key + plain.size() + 1;
  } else {
    append_escaped(out_, keyed_key(open, end, member, left_key_), true);
    WrittenAs kind;
    after = literal_scalars::key_end(key, end, kind) + 1;
  }
  out_.append("\\\":");
  return after;
}

// Between two drains the output holds at most a piece and what an object held in it becomes,
// with what comes before its size is looked at: its span, a string more, and a record. Escaping
// doubles a string at most, and a number grows at most to eleven times its text ("1e5" is
// 100000.0). An object's containers set aside are part of it; escaped keys and the members of
// its objects open are of its span; an index's members were counted in the text.
void LiteralWriter::reserve_for(const TextOutline& outline, std::size_t piece) {
  const std::size_t longest_string = outline.longest_string;
  const std::size_t held_input = kHeldSpan + longest_string + kLongestRecord;
  const std::size_t written = 11 * kHeldSpan + 2 * (longest_string + kLongestRecord) + 4096;
  (void)out_.tail_or_throw(piece + written);
  frames_.reserve(kMaxDepth + 1);
  members_.reserve((kHeldSpan + kLongestRecord) / 4 + kMaxDepth + 2);  // a member takes 4 bytes or more
  order_.reserve((kHeldSpan + kLongestRecord) / 4 + kMaxDepth + 2);
  decoded_keys_.reserve(held_input);
  key_scratch_.reserve(longest_string);
  left_key_.reserve(longest_string);
  right_key_.reserve(longest_string);
  keyed_.reserve(outline.indexed_members);
  shapes_.resize(kShapeDepths);
  set_aside_.reserve(written);
  number_.reserve(64);
}

}  // namespace korvane::json::detail
