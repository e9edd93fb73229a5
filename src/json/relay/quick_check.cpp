#include "json/relay/quick_check.h"

#include "json/relay/compact_literal.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

#include "common/byte_vector.h"
#include "common/utf8.h"
#include "json/read/cursor.h"
#include "json/read/grammar.h"
#include "json/read/scalars.h"
#include "json/relay/quick_strings.h"
#include "json/shared/known_key.h"
#include "json/shared/number_lanes.h"
#include "json/shared/specials.h"
#include "json/shared/whitespace.h"

namespace korvane::json::detail {
namespace {

// The pass over a text whose outermost value is an array or an object. Its last byte but
// whitespace closes that value, so that every read up to it stays in the text: each token but
// a closing bracket ends before it, and after a closing bracket the pass stops there.
class QuickCheck {
 public:
  QuickCheck(std::string_view text, TextOutline& out)
      : begin_(text.data()), end_(text.data() + text.size()), cursor_(text), out_(out), last_mark_(begin_) {
    cursor_.assume_valid_utf8();
  }

  bool text();

  // The same text, longer: it has arrived further.
  void grew(std::string_view text) {
    end_ = text.data() + text.size();
    cursor_ = Cursor(text);
    cursor_.assume_valid_utf8();
  }
  // A text that has not all arrived, with a 0 byte after what has: checks the values that start
  // before `sure_to`, and stops at the first that does not. False when it cannot tell how the
  // text goes on there (the whole is then read at the end).
  bool part(std::size_t sure_to);
  // The whole text, after its parts: as text() tells.
  bool rest();

 private:
  bool scalar_text(const char* p);
  bool containers(const char* p, std::size_t depth);
  const char* scalar(const char* p);
  const char* scalar_members(const char* p, std::size_t depth);
  const char* number(const char* p);
  const char* key(const char* p, std::size_t depth);
  const char* outer_key(const char* p);
  bool finish(const char* p);

  std::size_t at(const char* p) const { return static_cast<std::size_t>(p - begin_); }
  void mark(const char* p) {
    out_.longest_span = std::max(out_.longest_span, static_cast<std::size_t>(p - last_mark_));
    last_mark_ = p;
  }
  void value_starts(const char* p) {
    if (inner_objects_ == 0) mark(p);
  }
  void value_ends(const char* p, std::size_t depth) {
    if (depth == outer_member_depth_ && out_.members_listed) out_.members.back().value_end = at(p);
  }
  // A part ends at p, where a value starts: the next part goes on from there.
  bool stop_part(const char* p, std::size_t depth) {
    if (p == end_) return false;  // whitespace cut short by the end: where the value starts is not known
    resume_ = p;
    resume_depth_ = depth;
    stopped_ = true;
    return true;
  }
  // The array or object whose opening bracket is at `at`, opened at `depth` (0 for the
  // outermost), or closed back to it by the bracket at `at`.
  void opened(const char* at, std::size_t depth) {
    const char c = *at;
    open_[depth] = c;
    opened_at_[depth] = at;
    if (c == '{' && depth == 0) {
      out_.outer_object = true;
      outer_member_depth_ = 1;
    } else if (c == '{') {
      ++inner_objects_;
      members_before_[depth] = open_members_;
    }
  }
  void closed(const char* at, std::size_t depth) {
    const char c = open_[depth];
    if (c == '{') {
      const std::size_t members = depth == 0 ? outer_members_ : open_members_ - members_before_[depth];
      note_object(out_, static_cast<std::size_t>(at - opened_at_[depth]), members);
    }
    if (c == '{' && depth != 0) {
      --inner_objects_;
      out_.most_members = std::max(out_.most_members, open_members_);
      open_members_ = members_before_[depth];
    }
  }

  static constexpr std::size_t kNoOuterObject = ~std::size_t{0};

  const char* const begin_;
  const char* end_;
  const char* last_ = nullptr;  // the byte that closes the outermost array or object
  Cursor cursor_;               // for what is read as the value reader reads it
  TextOutline& out_;
  const char* last_mark_;
  // A text read in parts stops at the first value that starts at or after stop_at_, and goes on
  // there with the next part.
  std::size_t stop_at_ = ~std::size_t{0};
  const char* resume_ = nullptr;
  std::size_t resume_depth_ = 0;
  bool stopped_ = false;
  std::size_t outer_member_depth_ = kNoOuterObject;  // 1 when the text is an object
  std::size_t inner_objects_ = 0;                    // open objects but the outermost
  std::size_t open_members_ = 0;                     // their members so far
  std::array<char, kMaxDepth> open_{};               // '[' or '{' of each open level
  std::array<const char*, kMaxDepth> opened_at_{};   // and where it is
  std::size_t outer_members_ = 0;                    // of the outermost object
  std::array<std::size_t, kMaxDepth> members_before_{};
  // The key last seen at each place of an inner object; bytes the same are a key as good.
  static constexpr std::size_t kKnownKeys = 16;
  std::array<KnownKey, kKnownKeys> known_keys_{};
  std::array<KnownLead, kKnownKeys> known_leads_{};  // the same keys after a comma, with the colon
};

bool QuickCheck::text() {
  const char* p = begin_;
  while (p != end_ && is_json_space(*p)) ++p;
  if (p == end_) return false;
  if (*p != '[' && *p != '{') return scalar_text(p);
  last_ = end_ - 1;
  while (is_json_space(*last_)) --last_;
  if (*last_ != ']' && *last_ != '}') return false;
  return containers(p, 0);
}

bool QuickCheck::part(std::size_t sure_to) {
  const char* p = resume_;
  if (p == nullptr) {  // the first part: the opening of the outermost array or object
    p = begin_;
    while (is_json_space(*p)) ++p;
    if (*p != '[' && *p != '{') return false;
  }
  last_ = end_ - 1;  // the 0 after the text ends every read there
  stop_at_ = sure_to;
  stopped_ = false;
  return containers(p, resume_depth_) && stopped_;
}

bool QuickCheck::rest() {
  if (resume_ == nullptr) return text();
  last_ = end_ - 1;
  while (last_ > resume_ && is_json_space(*last_)) --last_;
  if (*last_ != ']' && *last_ != '}') return false;
  stop_at_ = ~std::size_t{0};
  return containers(resume_, resume_depth_);
}

bool QuickCheck::scalar_text(const char* p) {
  cursor_.seek(at(p));
  if (*p == '"') {
    cursor_.advance();
    mark(p + 1);
    StringRead string;
    NoText text;
    if (!read_string<false>(cursor_, string, text)) return false;
    note_string(out_, string.raw.size() + 2);
  } else if (*p == '-' || is_digit(*p)) {
    if (!check_number(cursor_)) return false;
    mark(begin_ + cursor_.pos());
  } else {
    const std::string_view word = *p == 't' ? "true" : *p == 'f' ? "false" : "null";
    if (std::string_view(p, at(end_) - at(p)).substr(0, word.size()) != word) return false;
    cursor_.advance(word.size());
    mark(begin_ + cursor_.pos());
  }
  return finish(begin_ + cursor_.pos());
}

bool QuickCheck::containers(const char* p, std::size_t depth) {
  for (;;) {
    if (at(p) >= stop_at_) return stop_part(p, depth);
    const char c = *p;
    if (c == '[' || c == '{') {
      if (depth == kMaxDepth) return false;
      const char* const bracket = p;
      p = skip_json_space(p + 1);
      value_starts(p);
      opened(bracket, depth++);
      if (*p != c + 2) {  // not empty: its first element, or its first member's key
        if (c == '{' && (p = key(p, depth)) == nullptr) return false;
        continue;
      }
    } else {
      p = open_[depth - 1] == '{' && depth != outer_member_depth_ ? scalar_members(p, depth) : scalar(p);
      if (p == nullptr) return false;
      value_ends(p, depth);
    }
    // After a value: close what ends here, then on to the next element or member.
    for (;;) {
      p = skip_json_space(p);
      const char open = open_[depth - 1];
      if (*p == ',') {
        p = skip_json_space(p + 1);
        if (open == '{') {
          p = key(p, depth);
          if (p == nullptr) return false;
        } else if (*p == ']') {
          return false;
        }
        break;
      }
      if (*p != open + 2) return false;
      closed(p++, --depth);
      if (depth == 0) return finish(p);
      if (p > last_) return false;
      value_ends(p, depth);
      // The next element of an array an object with a key, as records in a row are: opened and
      // its first key read at once.
      if (open_[depth - 1] == '[' && p[0] == ',' && p[1] == '{' && p[2] == '"' && at(p + 1) < stop_at_) {
        const char* const bracket = p + 1;
        p += 2;
        value_starts(p);
        opened(bracket, depth++);
        if ((p = key(p, depth)) == nullptr) return false;
        if (at(p) >= stop_at_ || !kStartsScalar[static_cast<unsigned char>(*p)]) break;
        if ((p = scalar_members(p, depth)) == nullptr) return false;
        value_ends(p, depth);
      }
    }
  }
}

// A string, number or literal at p; past it, or null.
[[gnu::always_inline]] inline const char* QuickCheck::scalar(const char* p) {
  if (*p == '"') {
    value_starts(p + 1);
    const char* const after = skip_string(p + 1, end_);
    if (after != nullptr) note_string(out_, static_cast<std::size_t>(after - p));
    return after;
  }
  if (is_digit(*p) || *p == '-') {
    p = number(p);
  } else {
    // The word's bytes up to the last one are all in the text, the last one being no letter.
    // Compared with a size known here, which takes a load or two, not a call.
    const bool is_false = *p == 'f';
    const std::ptrdiff_t size = is_false ? 5 : 4;
    if (last_ - p < size - 1) return nullptr;
    if (is_false ? std::memcmp(p, "false", 5) != 0 : std::memcmp(p, *p == 't' ? "true" : "null", 4) != 0) {
      return nullptr;
    }
    p += size;
  }
  if (p != nullptr) value_starts(p);
  return p;
}

// An inner object's members from the scalar value at p on, while each value is a scalar that
// starts before where a part ends, and a comma and the key known at its place, with its colon,
// come between them: a record's members in a row, without a round of containers() for each.
// Past the last value taken, or null.
[[gnu::always_inline]] inline const char* QuickCheck::scalar_members(const char* p, std::size_t depth) {
  for (std::size_t next = open_members_ - members_before_[depth - 1];; ++next) {
    p = scalar(p);
    if (p == nullptr) return p;
    const KnownLead& lead = known_leads_[next % kKnownKeys];
    if (!lead.matches(p, static_cast<std::size_t>(end_ - p))) return p;
    const char* const value = p + lead.size();
    if (!kStartsScalar[static_cast<unsigned char>(*value)] || at(value) >= stop_at_) return p;
    ++open_members_;
    p = value;
  }
}

// The bytes that may follow a number in an array or object.
constexpr std::array<bool, 256> kAfterNumber = [] {
  std::array<bool, 256> after{};
  for (const char c : {',', ']', '}', ' ', '\n', '\t', '\r'}) after[static_cast<unsigned char>(c)] = true;
  return after;
}();

// A plain decimal of fewer than sixteen bytes, its byte after it in the text, is passed over at
// once (see number_lanes.h); anything else, errors included, is read as the value reader reads it.
[[gnu::always_inline]] inline const char* QuickCheck::number(const char* const start) {
  if (end_ - start > 16) {
    const NumberLanes lanes = number_lanes(start);
    if (lanes.plain_decimal(start) && kAfterNumber[static_cast<unsigned char>(start[lanes.size])]) {
      return start + lanes.size;
    }
  }
  cursor_.seek(at(start));
  return check_number(cursor_) ? begin_ + cursor_.pos() : nullptr;
}

// A key at p and its colon; at the value after them, or null.
[[gnu::always_inline]] inline const char* QuickCheck::key(const char* p, std::size_t depth) {
  if (*p != '"') return nullptr;
  if (depth == outer_member_depth_) return outer_key(p + 1);
  ++p;
  // Any known key is a key wherever its bytes match: its place only makes a match likely.
  const std::size_t place = (open_members_++ - members_before_[depth - 1]) % kKnownKeys;
  KnownKey& known = known_keys_[place];
  if (known.matches(p, static_cast<std::size_t>(end_ - p))) {
    p += known.size() + 1;
  } else {
    const char* const start = p;
    p = skip_string_by_search(p, end_);
    if (p == nullptr) return nullptr;
    note_string(out_, static_cast<std::size_t>(p - start) + 1);
    const std::string_view text(start, static_cast<std::size_t>(p - 1 - start));
    known = KnownKey(text, static_cast<std::size_t>(end_ - start));
    known_leads_[place] = KnownLead(',', text, static_cast<std::size_t>(end_ - start));
  }
  if (*p == ':') return skip_json_space(p + 1);
  p = skip_json_space(p);
  if (*p != ':') return nullptr;
  return skip_json_space(p + 1);
}

// The outermost object's keys are kept decoded while they are few.
const char* QuickCheck::outer_key(const char* p) {
  cursor_.seek(at(p));
  StringRead key;
  std::string scratch;
  DecodedText text(scratch);
  if (!read_string<false>(cursor_, key, text)) return nullptr;
  note_string(out_, key.raw.size() + 2);
  ++outer_members_;
  p = skip_json_space(begin_ + cursor_.pos());
  if (*p != ':') return nullptr;
  ++p;
  list_outer_member(out_, text.text(), at(p));
  mark(p);
  return skip_json_space(p);
}

bool QuickCheck::finish(const char* p) {
  while (p != end_ && is_json_space(*p)) ++p;
  if (p != end_) return false;
  mark(p);
  return true;
}

}  // namespace

bool quick_check(std::string_view text, TextOutline& outline, bool valid_utf8) {
  outline = TextOutline();
  QuickCheck check(text, outline);
  return (valid_utf8 || is_valid_utf8(text)) && check.text();
}

}  // namespace korvane::json::detail

namespace korvane::json {

struct GrowingCheck::Parts {
  Parts(std::string_view text) : check(text, outline) {}
  detail::TextOutline outline;
  detail::QuickCheck check;
};

GrowingCheck::GrowingCheck(std::size_t sure_before) : sure_before_(sure_before) {}
GrowingCheck::~GrowingCheck() = default;

void GrowingCheck::grew(ByteBuffer& buffer, std::size_t from) {
  const std::string_view text = buffer.view().substr(from);
  if (lost_ || text.size() < 2 * sure_before_ || buffer.tail_size() == 0) return;
  *buffer.tail(1) = '\0';  // ends every read of the part there
  try {
    if (parts_ == nullptr) {
      parts_ = std::make_unique<Parts>(text);
      start_ = text.data();
    }
    if (text.data() != start_) {  // moved: read whole at the end
      lost_ = true;
      return;
    }
    parts_->check.grew(text);
    lost_ = !parts_->check.part(text.size() - sure_before_);
  } catch (const std::bad_alloc&) {
    lost_ = true;
  }
}

bool GrowingCheck::finish(std::string_view text, detail::TextOutline& outline, bool valid_utf8) {
  if (lost_ || parts_ == nullptr || text.data() != start_) return detail::quick_check(text, outline, valid_utf8);
  parts_->check.grew(text);
  const bool accepted = (valid_utf8 || is_valid_utf8(text)) && parts_->check.rest();
  outline = std::move(parts_->outline);
  return accepted;
}

}  // namespace korvane::json
