#include "json/literal_writer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <numeric>

#include "common/utf8.h"
#include "json/cursor.h"
#include "json/escape.h"
#include "json/grammar.h"
#include "json/scalars.h"
#include "json/writer.h"
#include "platform/float_chars.h"

namespace korvane::json::detail {
namespace {

constexpr std::string_view kQuote = "\\\"";  // a quotation mark of the text, escaped

// Objects this deep and less remember their keys' order (see Shape).
constexpr std::size_t kShapeDepths = 8;

// Bytes a number is made of: digits and signs, and what makes it a float.
constexpr std::uint8_t kNumberByte = 1, kExponentByte = 2;
constexpr std::array<std::uint8_t, 256> kNumberBytes = [] {
  std::array<std::uint8_t, 256> bytes{};
  for (int c = '0'; c <= '9'; ++c) bytes[c] = kNumberByte;
  bytes['-'] = bytes['+'] = bytes['.'] = kNumberByte;
  bytes['e'] = bytes['E'] = kNumberByte | kExponentByte;
  return bytes;
}();

// Between two tokens of a checked text, a byte up to the space is whitespace.
inline const char* skip_whitespace(const char* p, const char* end) {
  while (p < end && static_cast<unsigned char>(*p) <= ' ') ++p;
  return p;
}

using Kind = WrittenAs;
using Scalar = ScalarText;

// The end of a string's text (its closing quote, or the end), after its opening quote, and how
// it is written: escapes that writing writes back the same (all but "\\/" and "\\u") need no
// decoding.
[[gnu::always_inline]] inline const char* string_end(const char* p, const char* end, Kind& kind) {
  kind = Kind::kString;
  for (;;) {
    p += find_special(p, static_cast<std::size_t>(end - p));
    if (p >= end || *p == '"') return p;
    if (end - p < 2) return end;
    if (p[1] == 'u' || p[1] == '/') kind = Kind::kEscapedString;
    if (kind == Kind::kString) kind = Kind::kShortEscapes;
    p += 2;
  }
}

// Past the digits at p, eight at a time while eight bytes can be read.
inline const char* skip_digits(const char* p, const char* end) {
  while (end - p >= 8) {
    const int count = leading_digits(load_word(p));
    p += count;
    if (count < 8) return p;
  }
  while (p < end && is_digit(*p)) ++p;
  return p;
}

// Whether a float without exponent is what writing its double gives (see is_written_form).
inline bool plain_float_is_written(std::string_view whole, std::string_view fraction) {
  if (fraction.back() == '0') return fraction.size() == 1 && whole.size() <= 15;  // a lone zero
  if (whole != "0") return whole.size() + fraction.size() <= 15;
  const std::size_t zeros = fraction.find_first_not_of('0');
  return zeros <= 4 && fraction.size() - zeros <= 15;  // plain notation down to 1e-5
}

// A number at p: its extent, and whether it is copied as it is.
[[gnu::always_inline]] inline const char* scan_number(const char* p, const char* end, Scalar& value) {
  const char* q = p + (*p == '-' ? 1 : 0);
  const char* const whole = q;
  q = skip_digits(q, end);
  const std::string_view whole_digits(whole, static_cast<std::size_t>(q - whole));
  Kind kind = Kind::kCopied;
  if (q < end && *q == '.') {
    const char* const fraction = ++q;
    q = skip_digits(q, end);
    const std::string_view fraction_digits(fraction, static_cast<std::size_t>(q - fraction));
    const bool exponent = q < end && (*q == 'e' || *q == 'E');
    if (exponent || fraction_digits.empty() || !plain_float_is_written(whole_digits, fraction_digits)) {
      kind = Kind::kRewrittenNumber;
    }
  } else if (q < end && (*q == 'e' || *q == 'E')) {
    kind = Kind::kRewrittenNumber;
  } else if (whole_digits.size() > 18 || (whole != p && whole_digits == "0")) {
    if (integer_kind(whole != p, whole_digits) == Number::Kind::kFloat) kind = Kind::kRewrittenNumber;
  }
  while (q < end && kNumberBytes[static_cast<unsigned char>(*q)]) ++q;  // an exponent
  value = {kind, p, static_cast<std::size_t>(q - p)};
  return q;
}

// A scalar at p: its extent, and how it is written.
[[gnu::always_inline]] inline const char* scan(const char* p, const char* end, Scalar& value) {
  switch (*p) {
    case '"': {
      const char* const stop = string_end(p + 1, end, value.kind);
      value.text = p + 1;
      value.size = static_cast<std::size_t>(stop - p - 1);
      if (stop >= end) value.kind = Kind::kString;
      return stop < end ? stop + 1 : end;
    }
    case 't':
    case 'n': value = {Kind::kCopied, p, std::min<std::size_t>(4, end - p)}; return p + value.size;
    case 'f': value = {Kind::kCopied, p, std::min<std::size_t>(5, end - p)}; return p + value.size;
    default: return scan_number(p, end, value);
  }
}

// The most a scalar's written text takes; a decoded string's is not known before.
inline std::size_t written_size(const Scalar& value) {
  switch (value.kind) {
    case Kind::kString: return value.size + 4;
    case Kind::kShortEscapes: return 2 * value.size + 4;
    case Kind::kRewrittenNumber: return 32;  // "-1.2345678901234567e-308" is the longest
    default: return value.size;
  }
}

// Whether the bytes at `at` are `known`, a key read before from the same input, which ends
// after both when `readable` bytes can be read from `at`.
inline bool same_key(const char* at, std::size_t readable, std::string_view known) {
  if (known.size() > 8 || readable < 8) return std::memcmp(at, known.data(), known.size()) == 0;
  std::uint64_t a = 0, b = 0;
  std::memcpy(&a, at, 8);
  std::memcpy(&b, known.data(), 8);
  const std::uint64_t all = ~std::uint64_t{0};
  const std::uint64_t kept = known.size() == 8                            ? all
                             : std::endian::native == std::endian::little ? ~(all << (8 * known.size()))
                                                                          : ~(all >> (8 * known.size()));
  return ((a ^ b) & kept) == 0;
}

// Room the output always has past what it is asked for: short copies go whole words at once.
constexpr std::size_t kSlack = 32;

// Copies n bytes; a short value as 32 of them, when they can be read (the output has the
// slack): no branch on its length.
inline void copy_short(char* to, const char* from, std::size_t n, const char* from_end) {
  if (n <= kSlack && from_end - from >= static_cast<std::ptrdiff_t>(kSlack)) {
    std::memcpy(to, from, kSlack);
    return;
  }
  copy_bytes(to, from, n);
}

// Whether a compact member with the key `key` starts at p, its quotes and colon included.
inline bool starts_member(const char* p, const char* end, std::string_view key, const auto& start) {
  const auto readable = static_cast<std::size_t>(end - p);
  if (start.whole && readable >= 16) {
    std::uint64_t low = 0, high = 0;
    std::memcpy(&low, p, 8);
    std::memcpy(&high, p + 8, 8);
    return (((low ^ start.bytes[0]) & start.mask[0]) | ((high ^ start.bytes[1]) & start.mask[1])) == 0;
  }
  return readable >= key.size() + 3 && p[0] == '"' && p[key.size() + 1] == '"' && p[key.size() + 2] == ':' &&
         std::memcmp(p + 1, key.data(), key.size()) == 0;
}

template <typename KeyStart>
KeyStart key_start_of(std::string_view key) {
  std::array<char, 16> bytes{}, mask{};
  KeyStart start{};
  start.whole = key.size() + 3 <= bytes.size();
  if (!start.whole) return start;
  bytes[0] = '"';
  std::copy(key.begin(), key.end(), bytes.begin() + 1);
  bytes[key.size() + 1] = '"';
  bytes[key.size() + 2] = ':';
  std::fill_n(mask.begin(), key.size() + 3, '\xFF');
  std::memcpy(start.bytes.data(), bytes.data(), bytes.size());
  std::memcpy(start.mask.data(), mask.data(), mask.size());
  return start;
}

// A sink that writes a string's text as the compact text has it, escaped once more for the
// literal: plain runs as they are, each escape as what writing its character gives.
class LiteralText {
 public:
  explicit LiteralText(ByteBuffer& out) : out_(out) {}
  void run(std::string_view bytes, bool) { out_.append(bytes); }
  void character(char c) {
    if (is_special(c)) return append_escape(out_, c, true);
    out_.push_back(c);
  }
  void code_point(char32_t c) {
    if (c < 0x80) return character(static_cast<char>(c));
    append_utf8(out_, c);
  }

 private:
  ByteBuffer& out_;
};

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

void LiteralWriter::put(const Scalar& value) {
  if (value.kind == Kind::kEscapedString) return put_escaped_string(value);
  char* const at = out_.tail_or_throw(written_size(value) + kSlack);
  out_.commit(static_cast<std::size_t>(put_at(at, value) - at));
}

// Writes a scalar that needs no decoding at `at`, which has room for its written_size; the end.
inline char* LiteralWriter::put_at(char* at, const Scalar& value) {
  switch (value.kind) {
    case Kind::kString:
      std::memcpy(at, kQuote.data(), kQuote.size());
      copy_short(at + kQuote.size(), value.text, value.size, input_end_);
      std::memcpy(at + kQuote.size() + value.size, kQuote.data(), kQuote.size());
      return at + value.size + 2 * kQuote.size();
    case Kind::kShortEscapes: {  // a backslash before each quote and backslash
      at = std::copy(kQuote.begin(), kQuote.end(), at);
      for (std::size_t done = 0;;) {
        const std::size_t run = find_special(value.text + done, value.size - done);
        copy_bytes(at, value.text + done, run);
        at += run;
        done += run;
        if (done == value.size) break;
        *at++ = '\\';
        *at++ = value.text[done++];
      }
      return std::copy(kQuote.begin(), kQuote.end(), at);
    }
    case Kind::kRewrittenNumber: {
      const std::string_view text(value.text, value.size);
      number_.clear();
      if (!append_number_text_shortest(number_, text)) append_double(number_, platform::chars_to_double(text));
      const std::size_t size = std::min(number_.size(), written_size(value));
      copy_bytes(at, number_.data(), size);
      return at + size;
    }
    case Kind::kCopied: copy_short(at, value.text, value.size, input_end_); return at + value.size;
    default: copy_bytes(at, value.text, value.size); return at + value.size;
  }
}

void LiteralWriter::put_escaped_string(const Scalar& value) {
  out_.append(kQuote);
  Cursor in(std::string_view(value.text, value.size + 1));  // with its closing quote
  in.assume_valid_utf8();
  StringRead read;
  LiteralText text(out_);
  (void)read_string<false>(in, read, text);
  out_.append(kQuote);
}

// A member's key and colon (`lead`), then its value.
void LiteralWriter::put_member(std::string_view lead, const Member& member, const char* written) {
  Scalar value = member.value;
  if (value.kind == Kind::kWritten) value.text = written + member.written_at;
  if (value.kind == Kind::kEscapedString) {
    out_.append(lead);
    return put_escaped_string(value);
  }
  char* const start = out_.tail_or_throw(lead.size() + written_size(value) + kSlack);
  copy_bytes(start, lead.data(), lead.size());
  out_.commit(static_cast<std::size_t>(put_at(start + lead.size(), value) - start));
}

void LiteralWriter::before_element() {
  if (objects_open_ == 0 && out_.size() >= piece_) (void)drain();
  if (frames_.empty()) return;
  Frame& array = frames_.back();
  if (!array.first) out_.push_back(',');
  array.first = false;
}

void LiteralWriter::write(std::string_view text) {
  const char* p = text.data();
  const char* const end = p + text.size();
  input_end_ = end;
  frames_.clear();
  members_.clear();
  decoded_keys_.clear();
  objects_open_ = 0;
  for (Shape& shape : shapes_) shape.count = 0;
  for (;;) {
    p = skip_whitespace(p, end);
    if (p >= end) return;
    if (*p == '{' || *p == '[') {
      bool value_follows = false;
      p = open(p, end, value_follows);
      if (value_follows) continue;
    } else if (!frames_.empty() && frames_.back().is_object) {
      p = scan(p, end, members_.back().value);
    } else {
      before_element();
      Scalar value;
      p = scan(p, end, value);
      put(value);
    }
    // After a value: close what ends here, up to the next element or member.
    for (;;) {
      if (frames_.empty()) return;
      p = skip_whitespace(p, end);
      if (p >= end) return;
      if (*p++ == ',') {
        if (frames_.back().is_object) p = key(p, end);
        break;
      }
      close();
    }
  }
}

// Writes the opening of an array or object; past its first key when it has one. Whether a
// value follows, or the container was empty and is closed already.
const char* LiteralWriter::open(const char* p, const char* end, bool& value_follows) {
  const bool object = *p++ == '{';
  if (!frames_.empty() && frames_.back().is_object) {
    Frame& parent = frames_.back();
    parent.wrote = true;
    Member& member = members_.back();
    member.value.kind = Kind::kWritten;
    member.written_at = out_.size() - parent.part;
  } else {
    before_element();
  }
  out_.push_back(object ? '{' : '[');
  if (object && frames_.size() < shapes_.size() && write_record(p, end, shapes_[frames_.size()])) {
    value_follows = false;
    if (!frames_.empty() && frames_.back().is_object) {
      Member& member = members_.back();
      member.value.size = out_.size() - frames_.back().part - member.written_at;
    }
    return p;
  }
  Frame frame{object};
  if (object) {
    frame.first_member = static_cast<std::uint32_t>(members_.size());
    frame.first_decoded = static_cast<std::uint32_t>(decoded_keys_.size());
    frame.part = out_.size();
    ++objects_open_;
  }
  frames_.push_back(frame);
  p = skip_whitespace(p, end);
  value_follows = p < end && *p != (object ? '}' : ']');
  if (!value_follows) {
    close();
    return p < end ? p + 1 : end;
  }
  return object ? key(p, end) : p;
}

// A record, after its '{', whose keys are those of the last object ordered at its depth, in the
// same order, and whose values are all scalars: read and written at once, and `at` moved past
// its '}'. False, with nothing read or written, for any other object.
bool LiteralWriter::write_record(const char*& at, const char* end, const Shape& shape) {
  if (shape.count == 0) return false;
  std::array<Scalar, kShapeKeys> values;
  std::size_t size = shape.starts[shape.kept] + 1;  // the keys and the closing brace
  bool plain = true;                                // no string to decode
  const char* p = at;
  for (std::size_t i = 0; i < shape.count; ++i) {
    const std::string_view key = shape.keys[i];
    if (!starts_member(p, end, key, shape.key_starts[i])) return false;
    p += key.size() + 3;
    if (p >= end || *p == '{' || *p == '[' || static_cast<unsigned char>(*p) <= ' ') return false;
    p = scan(p, end, values[i]);
    size += written_size(values[i]);
    plain = plain && values[i].kind != Kind::kEscapedString;
    if (p >= end || *p++ != (i + 1 < shape.count ? ',' : '}')) return false;
  }
  at = p;
  if (!plain) {
    for (std::size_t k = 0; k < shape.kept; ++k) {
      const std::string_view lead(shape.text.data() + shape.starts[k], shape.starts[k + 1] - shape.starts[k]);
      put_member(lead, Member{.key = {}, .value = values[shape.order[k]]}, nullptr);
    }
    out_.push_back('}');
    return true;
  }
  char* const start = out_.tail_or_throw(size + kSlack);
  char* o = start;
  for (std::size_t k = 0; k < shape.kept; ++k) {
    const std::size_t lead = shape.starts[k + 1] - shape.starts[k];
    copy_short(o, shape.text.data() + shape.starts[k], lead, shape.text.data() + shape.text.size());
    o = put_at(o + lead, values[shape.order[k]]);
  }
  *o++ = '}';
  out_.commit(static_cast<std::size_t>(o - start));
  return true;
}

// Writes the closing of the innermost container, and notes the size written in its parent.
void LiteralWriter::close() {
  const Frame frame = frames_.back();
  frames_.pop_back();
  if (frame.is_object) {
    write_object(frame, frames_.size());
    --objects_open_;
  } else {
    out_.push_back(']');
  }
  if (!frames_.empty() && frames_.back().is_object) {
    Member& member = members_.back();
    member.value.size = out_.size() - frames_.back().part - member.written_at;
  }
}

// A member's key and colon, at the byte where the key's quote should be.
const char* LiteralWriter::key(const char* p, const char* end) {
  p = skip_whitespace(p, end);
  if (p < end) ++p;
  Frame& object = frames_.back();
  const std::size_t depth = frames_.size() - 1, index = members_.size() - object.first_member;
  Member member;
  if (object.same_shape && depth < shapes_.size() && index < shapes_[depth].count) {
    const std::string_view known = shapes_[depth].keys[index];
    const auto readable = static_cast<std::size_t>(end - p);
    if (readable > known.size() && p[known.size()] == '"' && same_key(p, readable, known)) {
      member.key = std::string_view(p, known.size());
      p += known.size() + 1;
    }
  }
  if (member.key.data() == nullptr) {
    object.same_shape = false;
    p = read_key(p, end, member);
  }
  p = skip_whitespace(p, end);
  members_.push_back(member);
  return p < end ? p + 1 : end;  // past the colon
}

// A key not known from the object before, after its opening quote: decoded aside when it holds
// escapes.
const char* LiteralWriter::read_key(const char* p, const char* end, Member& member) {
  Kind kind = Kind::kString;
  const char* const stop = string_end(p, end, kind);
  member.key = std::string_view(p, static_cast<std::size_t>(stop - p));
  if (kind != Kind::kString && stop < end) {
    Cursor in(std::string_view(p, member.key.size() + 1));
    in.assume_valid_utf8();
    StringRead read;
    DecodedText text(key_scratch_);
    (void)read_string<false>(in, read, text);
    member.decoded_start = static_cast<std::uint32_t>(decoded_keys_.size());
    member.decoded_size = static_cast<std::uint32_t>(text.text().size());
    decoded_keys_.append(text.text());
  }
  return stop < end ? stop + 1 : end;
}

// An object's members in key order, the last of repeated keys only, from its part of the
// output on: a member's container value was written there as it was read, and is set aside.
void LiteralWriter::write_object(const Frame& object, std::size_t depth) {
  const Member* const members = members_.data() + object.first_member;
  const std::size_t count = members_.size() - object.first_member;
  if (count == 0) return out_.push_back('}');
  Shape* const shape = depth < shapes_.size() ? &shapes_[depth] : nullptr;
  const bool shaped = (shape != nullptr && object.same_shape && count == shape->count) || order_members(object, shape);
  const char* written = nullptr;
  if (object.wrote) {
    set_aside_.assign(out_.data() + object.part, out_.size() - object.part);
    out_.truncate(object.part);
    written = set_aside_.data();
  }
  if (shaped) {
    for (std::size_t k = 0; k < shape->kept; ++k) {
      const std::string_view lead(shape->text.data() + shape->starts[k], shape->starts[k + 1] - shape->starts[k]);
      put_member(lead, members[shape->order[k]], written);
    }
  } else {
    for (std::size_t k = 0; k < order_.size(); ++k) {
      const Member& member = members[order_[k]];
      put_key(member, k == 0);
      put_member({}, member, written);
    }
  }
  out_.push_back('}');
  members_.resize(object.first_member);
  decoded_keys_.resize(object.first_decoded);
}

// Orders an object's members (order_, indices from its first), keeping the last of repeated
// keys, and remembers the order in `shape` when its keys are plain and few: true then.
bool LiteralWriter::order_members(const Frame& object, Shape* shape) {
  const Member* const members = members_.data() + object.first_member;
  const std::size_t count = members_.size() - object.first_member;
  order_.resize(count);
  std::iota(order_.begin(), order_.end(), 0u);
  const auto before = [&](std::uint32_t a, std::uint32_t b) {
    const int by_key = key_of(members[a]).compare(key_of(members[b]));
    return by_key != 0 ? by_key < 0 : a < b;
  };
  if (count <= kShapeKeys) {
    for (std::size_t k = 1; k < count; ++k) {  // small objects: insertion sort
      const std::uint32_t moving = order_[k];
      std::size_t at = k;
      for (; at > 0 && before(moving, order_[at - 1]); --at) order_[at] = order_[at - 1];
      order_[at] = moving;
    }
  } else {
    std::sort(order_.begin(), order_.end(), before);
  }
  std::size_t kept = 0;
  for (std::size_t k = 0; k < count; ++k) {  // equal keys are adjacent, the last one last
    if (k + 1 < count && key_of(members[order_[k]]) == key_of(members[order_[k + 1]])) continue;
    order_[kept++] = order_[k];
  }
  order_.resize(kept);
  return shape != nullptr && remember(members, count, *shape);
}

bool LiteralWriter::remember(const Member* members, std::size_t count, Shape& shape) {
  shape.count = 0;
  std::size_t text_size = 0;
  for (std::size_t k = 0; k < order_.size(); ++k)
    text_size += (k > 0 ? 1 : 0) + 2 * kQuote.size() + 1 + members[order_[k]].key.size();
  if (count > kShapeKeys || text_size > kShapeText) return false;
  for (std::size_t i = 0; i < count; ++i) {
    if (members[i].decoded_start != kRaw) return false;
    shape.keys[i] = members[i].key;
    shape.key_starts[i] = key_start_of<KeyStart>(members[i].key);
  }
  char* at = shape.text.data();
  for (std::size_t k = 0; k < order_.size(); ++k) {
    shape.starts[k] = static_cast<std::uint16_t>(at - shape.text.data());
    shape.order[k] = static_cast<std::uint8_t>(order_[k]);
    if (k > 0) *at++ = ',';
    const std::string_view key = members[order_[k]].key;
    at = std::copy(kQuote.begin(), kQuote.end(), at);
    at = std::copy(key.begin(), key.end(), at);
    at = std::copy(kQuote.begin(), kQuote.end(), at);
    *at++ = ':';
  }
  shape.starts[order_.size()] = static_cast<std::uint16_t>(at - shape.text.data());
  shape.kept = static_cast<std::uint32_t>(order_.size());
  shape.count = static_cast<std::uint32_t>(count);
  return true;
}

// The comma before a member when there is one, then its key and colon.
void LiteralWriter::put_key(const Member& member, bool first) {
  if (!first) out_.push_back(',');
  out_.append(kQuote);
  if (member.decoded_start == kRaw) {
    out_.append(member.key);  // a key without escapes holds no quote, backslash or control character
  } else {
    append_escaped(out_, key_of(member), true);
  }
  out_.append("\\\":");
}

bool LiteralWriter::drain() {
  if (sink_ == nullptr) return true;
  if (!stopped_ && out_.size() > 0) stopped_ = !sink_->put(out_.view());
  out_.truncate(0);
  return !stopped_;
}

// Between two places where no object is open, the output holds at most a piece and what a span
// of that length becomes: escaping doubles a string at most, and a number grows at most to four
// and a half times its text ("9e15" is 9000000000000000.0). Escaped keys fit in it, and so do
// an object's containers set aside.
void LiteralWriter::reserve_for(std::size_t span, std::size_t piece, std::size_t members) {
  const std::size_t written = 5 * span + 4096;
  (void)out_.tail_or_throw(piece + written);
  frames_.reserve(kMaxDepth + 1);
  members_.reserve(members);
  order_.reserve(members);
  decoded_keys_.reserve(span);
  key_scratch_.reserve(span);
  shapes_.resize(kShapeDepths);
  set_aside_.reserve(written);
  number_.reserve(64);
}

}  // namespace korvane::json::detail
