#include "json/relay/literal_writer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <numeric>

#include "json/read/cursor.h"
#include "json/read/grammar.h"
#include "json/read/scalars.h"
#include "json/relay/literal_scalars.h"
#include "json/relay/member_order.h"
#include "json/shared/whitespace.h"
#include "json/write/escape.h"

namespace korvane::json::detail {

void LiteralWriter::put(const Scalar& value) {
  char* const at = out_.tail_or_throw(written_size(value) + kSlack);
  out_.commit(static_cast<std::size_t>(put_scalar_at(at, value, number_) - at));
}

// A member's key and colon (`lead`), then its value.
void LiteralWriter::put_member(std::string_view lead, const Member& member, const char* written) {
  Scalar value = member.value;
  if (value.kind == Kind::kWritten) value.text = written + member.written_at;
  char* const start = out_.tail_or_throw(lead.size() + written_size(value) + kSlack);
  copy_bytes(start, lead.data(), lead.size());
  out_.commit(static_cast<std::size_t>(put_scalar_at(start + lead.size(), value, number_) - start));
}

void LiteralWriter::before_element() {
  if (objects_open_ == 0 && out_.size() >= piece_) (void)drain();
  if (frames_.size() == base_) return;
  Frame& array = frames_.back();
  if (!array.first) out_.push_back(',');
  array.first = false;
}

void LiteralWriter::write(PaddedText text) {
  frames_.clear();
  members_.clear();
  decoded_keys_.clear();
  keyed_.clear();
  objects_open_ = 0;
  base_ = 0;
  held_span_ = text.size() < kDecodeKey ? kHeldSpan : static_cast<std::size_t>(-1);
  for (Shape& shape : shapes_) shape.count = 0;
  (void)write_value(text.begin(), text.end());
}

// Writes the value at p, on top of the frames open; past it.
const char* LiteralWriter::write_value(const char* p, const char* end) {
  for (;;) {
    p = skip_json_space(p, end);
    if (p >= end) return end;
    if (holds_too_much(p)) {
      p = write_held_in_key_order(end);
    } else if (*p == '{' || *p == '[') {
      bool value_follows = false;
      p = open(p, end, value_follows);
      if (value_follows) continue;
    } else if (frames_.size() > base_ && frames_.back().is_object) {
      p = scan_scalar(p, end, members_.back().value);
    } else {
      before_element();
      Scalar value;
      p = scan_scalar(p, end, value);
      put(value);
    }
    // After a value: close what ends here, up to the next element or member.
    for (;;) {
      if (frames_.size() == base_) return p;
      p = skip_json_space(p, end);
      if (p >= end) return end;
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
  if (frames_.size() > base_ && frames_.back().is_object) {
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
    if (frames_.size() > base_ && frames_.back().is_object) {
      Member& member = members_.back();
      member.value.size = out_.size() - frames_.back().part - member.written_at;
      return p;
    }
    return frames_.size() > base_ ? write_records_in_row(p, end, shapes_[frames_.size()]) : p;
  }
  Frame frame{object};
  if (object) {
    frame.first_member = static_cast<std::uint32_t>(members_.size());
    frame.first_decoded = static_cast<std::uint32_t>(decoded_keys_.size());
    frame.part = out_.size();
    if (objects_open_++ == 0) {
      held_open_ = p - 1;
      held_frame_ = frames_.size();
      held_out_ = frame.part - 1;
    }
  }
  frames_.push_back(frame);
  p = skip_json_space(p, end);
  value_follows = p < end && *p != (object ? '}' : ']');
  if (!value_follows) {
    close();
    return p < end ? p + 1 : end;
  }
  return object ? key(p, end) : p;
}

// A record, after its '{', whose keys are those of the last object ordered at its depth, in the
// same order, and whose values are all scalars or arrays of them: read and written at once, and `at` moved past
// its '}'. False, with nothing read or written, for any other object.
bool LiteralWriter::write_record(const char*& at, const char* end, const Shape& shape) {
  if (shape.count == 0) return false;
  std::array<Scalar, kShapeKeys> values;
  const char* p = at;
  // The text is checked and its slack can be read: a member that starts at p ends before its
  // end, and the byte after a value is there to look at.
  for (std::size_t i = 0; i < shape.count; ++i) {
    const KnownLead& lead = shape.leads[i];
    if (!lead.matches(p, static_cast<std::size_t>(end - p) + kPadding)) return false;
    p += lead.size();
    if (kStartsScalar[static_cast<unsigned char>(*p)]) {
      p = scan_scalar(p, end, values[i]);
    } else if (*p != '[' || !scan_scalar_array(p, end, values[i])) {
      return false;
    }
  }
  if (*p++ != '}') return false;
  if (static_cast<std::size_t>(p - at) > kLongestRecord) return false;  // what is held stays small
  // The keys, the closing brace, and room for the values: a value's written_size is at most twice
  // its text and 36.
  const std::size_t size = shape.starts[shape.kept] + 1 + 2 * static_cast<std::size_t>(p - at) + 36 * shape.count;
  at = p;
  char* const start = out_.tail_or_throw(size + kSlack);
  char* o = start;
  for (std::size_t k = 0; k < shape.kept; ++k) {
    const std::size_t lead = shape.starts[k + 1] - shape.starts[k];
    literal_scalars::copy_short(o, shape.text.data() + shape.starts[k], lead);
    o = put_scalar_at(o + lead, values[shape.order[k]], number_);
  }
  *o++ = '}';
  out_.commit(static_cast<std::size_t>(o - start));
  return true;
}

// The records that follow one in an array, with its shape, each at once (see write_record); past
// the last, at the comma before the first that is not.
const char* LiteralWriter::write_records_in_row(const char* p, const char* end, const Shape& shape) {
  while (p[0] == ',' && p[1] == '{') {  // the padding makes p[1] a byte to look at
    if (objects_open_ == 0 && out_.size() >= piece_) (void)drain();
    const std::size_t before = out_.size();
    std::memcpy(out_.tail_or_throw(2), ",{", 2);
    out_.commit(2);
    const char* at = p + 2;
    if (!write_record(at, end, shape)) {
      out_.truncate(before);
      return p;
    }
    p = at;
  }
  return p;
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
  if (frames_.size() > base_ && frames_.back().is_object) {
    Member& member = members_.back();
    member.value.size = out_.size() - frames_.back().part - member.written_at;
  }
}

// A member's key and colon, at the byte where the key's quote should be.
const char* LiteralWriter::key(const char* p, const char* end) {
  p = skip_json_space(p, end);
  if (p < end) ++p;
  Frame& object = frames_.back();
  const std::size_t depth = frames_.size() - 1, index = members_.size() - object.first_member;
  Member member;
  if (object.same_shape && depth < shapes_.size() && index < shapes_[depth].count) {
    const KnownKey& known = shapes_[depth].keys[index];
    if (known.matches(p, static_cast<std::size_t>(end - p) + kPadding)) {
      member.key = std::string_view(p, known.size());
      p += known.size() + 1;
    }
  }
  if (member.key.data() == nullptr) {
    object.same_shape = false;
    p = read_key(p, end, member);
  }
  p = skip_json_space(p, end);
  members_.push_back(member);
  return p < end ? p + 1 : end;  // past the colon
}

// A key not known from the object before, after its opening quote: decoded aside when it holds
// escapes.
const char* LiteralWriter::read_key(const char* p, const char* end, Member& member) {
  Kind kind = Kind::kString;
  const char* const stop = literal_scalars::key_end(p, end, kind);
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
  const auto same_key = [&](std::uint32_t a, std::uint32_t b) { return key_of(members[a]) == key_of(members[b]); };
  order_.erase(detail::order_by_key(order_.begin(), order_.end(), before, same_key), order_.end());
  return shape != nullptr && remember(members, count, *shape);
}

bool LiteralWriter::remember(const Member* members, std::size_t count, Shape& shape) {
  shape.count = 0;
  std::size_t text_size = 0;
  for (std::size_t k = 0; k < order_.size(); ++k)
    text_size += (k > 0 ? 1 : 0) + 2 * kLiteralQuote.size() + 1 + members[order_[k]].key.size();
  if (count > kShapeKeys || text_size > kShapeText) return false;
  for (std::size_t i = 0; i < count; ++i) {
    if (members[i].decoded_start != kRaw) return false;
    shape.keys[i] = KnownKey(members[i].key, members[i].key.size() + 1 + kPadding);
    shape.leads[i] = KnownLead(i == 0 ? '\0' : ',', members[i].key, members[i].key.size() + 1 + kPadding);
  }
  char* at = shape.text.data();
  for (std::size_t k = 0; k < order_.size(); ++k) {
    shape.starts[k] = static_cast<std::uint16_t>(at - shape.text.data());
    shape.order[k] = static_cast<std::uint8_t>(order_[k]);
    if (k > 0) *at++ = ',';
    const std::string_view key = members[order_[k]].key;
    at = std::copy(kLiteralQuote.begin(), kLiteralQuote.end(), at);
    at = std::copy(key.begin(), key.end(), at);
    at = std::copy(kLiteralQuote.begin(), kLiteralQuote.end(), at);
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
  out_.append(kLiteralQuote);
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

}  // namespace korvane::json::detail
