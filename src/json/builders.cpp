#include "json/builders.h"

#include <algorithm>
#include <cstring>
#include <numeric>

#include "json/writer.h"

namespace korvane::json::detail {

Value& TreeBuilder::slot() {
  if (stack_.empty()) return root_;
  Value& container = *stack_.back();
  if (container.is_array()) return container.get_ref<Value::array_t&>().emplace_back();
  return container.get_ref<Value::object_t&>()[key_];
}

void TreeBuilder::open(Value container) {
  Value& place = slot();
  place = std::move(container);
  stack_.push_back(&place);
}

namespace {

std::uint64_t key_prefix(std::string_view key) {
  std::uint64_t prefix = 0;
  for (std::size_t i = 0; i < 8; ++i) {
    prefix = (prefix << 8) | (i < key.size() ? static_cast<unsigned char>(key[i]) : 0u);
  }
  return prefix;
}

}  // namespace

int TextBuilder::compare_keys(std::size_t a, std::size_t b) const {
  const Member& first = members_[a];
  const Member& second = members_[b];
  if (first.prefix != second.prefix) return first.prefix < second.prefix ? -1 : 1;
  if (first.key_length <= 8 && second.key_length <= 8) {  // equal up to the padding
    return first.key_length == second.key_length ? 0 : (first.key_length < second.key_length ? -1 : 1);
  }
  return key_of(first).compare(key_of(second));
}

void TextBuilder::before_value() {
  if (open_.empty() || open_.back().is_object) return;  // an object's key wrote the comma
  if (!open_.back().empty) out_ += ',';
  open_.back().empty = false;
}

void TextBuilder::null_value() {
  before_value();
  out_ += "null";
}

void TextBuilder::boolean(bool value) {
  before_value();
  out_ += value ? "true" : "false";
}

void TextBuilder::number(const Number& number) {
  before_value();
  switch (number.kind) {
    case Number::Kind::kUnsigned:
    case Number::Kind::kSigned: out_ += number.text; return;  // integers are written as read
    case Number::Kind::kFloat:
      if (!append_number_text_shortest(out_, number.text)) append_double(out_, number.float_value);
      return;
  }
}

void TextBuilder::append_string(std::string_view text, bool verbatim) {
  if (verbatim) {  // no quote, backslash or control character inside: as it is
    out_ += kQuote;
    out_ += text;
    out_ += kQuote;
    return;
  }
  escaped_.clear();
  append_json_string(escaped_, text);
  for (char c : escaped_) {  // quotes and backslashes are all that escaping leaves to escape
    if (c == '"' || c == '\\') out_ += '\\';
    out_ += c;
  }
}

void TextBuilder::string(std::string_view text, bool verbatim) {
  before_value();
  append_string(text, verbatim);
}

void TextBuilder::begin_array() {
  before_value();
  out_ += '[';
  open_.push_back({false});
}

void TextBuilder::end_array() {
  open_.pop_back();
  out_ += ']';
}

void TextBuilder::begin_object() {
  before_value();
  out_ += '{';
  open_.push_back({true, true, true, members_.size(), escaped_keys_.size()});
}

void TextBuilder::key(std::string_view key, bool verbatim) {
  Container& object = open_.back();
  if (!object.empty) out_ += ',';
  std::size_t escaped = kVerbatim;
  if (!verbatim) {
    escaped = escaped_keys_.size();
    escaped_keys_.emplace_back(key);
  }
  members_.push_back({out_.size(), key.size(), escaped, key_prefix(key)});
  if (!object.empty && compare_keys(members_.size() - 2, members_.size() - 1) >= 0) object.in_order = false;
  object.empty = false;
  append_string(key, verbatim);
  out_ += ':';
}

void TextBuilder::end_object() {
  const Container object = open_.back();
  open_.pop_back();
  if (!object.in_order) sort_members(object);
  members_.resize(object.first_member);
  escaped_keys_.resize(object.first_escaped);
  out_ += '}';
}

// Fills order_ with the object's members (indices from its first) in key order, keeping only
// the last of repeated keys.
void TextBuilder::order_members(const Container& object) {
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
}

// Rewrites an object's members in key order, keeping only the last of repeated keys. The
// largest member is moved in place and only the others are copied aside, so reordering an
// object that holds most of a large reply costs little memory.
void TextBuilder::sort_members(const Container& object) {
  order_members(object);
  const std::size_t first = object.first_member, count = members_.size() - first;
  const std::size_t region = members_[first].start;
  auto begin_of = [&](std::size_t i) { return members_[first + i].start; };
  auto end_of = [&](std::size_t i) { return i + 1 < count ? begin_of(i + 1) - 1 : out_.size(); };  // drops the comma
  auto size_of = [&](std::size_t i) { return end_of(i) - begin_of(i); };

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
    if (k != largest) set_aside_.append(out_, begin_of(order_[k]), size_of(order_[k]));
  }
  std::memmove(out_.data() + region + largest_offset, out_.data() + begin_of(order_[largest]),
               size_of(order_[largest]));

  std::size_t at = region, from = 0;
  for (std::size_t k = 0; k < order_.size(); ++k) {
    if (k > 0) out_[at++] = ',';
    const std::size_t size = size_of(order_[k]);
    if (k != largest) {
      std::memcpy(out_.data() + at, set_aside_.data() + from, size);
      from += size;
    }
    at += size;
  }
  out_.resize(region + offset - 1);
}

}  // namespace korvane::json::detail
