// What the parser builds from what it reads: a value tree, or canonical compact text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "json/number.h"
#include "json/value.h"

namespace korvane::json::detail {

// Builds a value tree; a repeated object key keeps its last value.
class TreeBuilder {
 public:
  Value take() { return std::move(root_); }

  void null_value() { slot() = nullptr; }
  void boolean(bool value) { slot() = value; }
  void number(const Number& number) { slot() = number.to_value(); }
  void string(std::string_view text, bool /*verbatim*/) { slot() = std::string(text); }
  void begin_array() { open(Value::array()); }
  void end_array() { stack_.pop_back(); }
  void begin_object() { open(Value::object()); }
  void key(std::string_view key, bool /*verbatim*/) { key_.assign(key); }
  void end_object() { stack_.pop_back(); }

 private:
  Value& slot();
  void open(Value container);

  Value root_;
  std::vector<Value*> stack_;  // the open containers, innermost last
  std::string key_;            // the key of the next object member
};

// Writes the compact text that writing the value tree would give (keys in ascending byte
// order, the last of repeated keys), without building the tree, escaped as it goes for a place
// between the quotes of a JSON string.
class TextBuilder {
 public:
  explicit TextBuilder(std::string& out) : out_(out) {}

  void null_value();
  void boolean(bool value);
  void number(const Number& number);
  // A verbatim text came without escapes, so it holds nothing that needs one.
  void string(std::string_view text, bool verbatim);
  void begin_array();
  void end_array();
  void begin_object();
  void key(std::string_view key, bool verbatim);
  void end_object();

 private:
  struct Member {
    std::size_t start;        // where its "key":value text starts in the output
    std::size_t key_length;   // of the decoded key
    std::size_t escaped_key;  // its decoded key's index in escaped_keys_, or kVerbatim
    std::uint64_t prefix;     // the key's first 8 bytes, big-endian, zero-padded: orders most keys
  };
  static constexpr std::size_t kVerbatim = static_cast<std::size_t>(-1);
  struct Container {
    bool is_object;
    bool empty = true;
    bool in_order = true;           // keys so far strictly ascending
    std::size_t first_member = 0;   // its members' index in members_
    std::size_t first_escaped = 0;  // its escaped keys' index in escaped_keys_
  };

  // A member's decoded key: the output text itself unless the key needed escapes.
  std::string_view key_of(const Member& member) const {
    if (member.escaped_key != kVerbatim) return escaped_keys_[member.escaped_key];
    return std::string_view(out_).substr(member.start + kQuote.size(), member.key_length);
  }
  // Orders two members of members_ by key, then by position.
  bool key_before(std::size_t a, std::size_t b) const {
    const int by_key = compare_keys(a, b);
    return by_key != 0 ? by_key < 0 : a < b;
  }
  int compare_keys(std::size_t a, std::size_t b) const;

  void before_value();
  void append_string(std::string_view text, bool verbatim);
  void order_members(const Container& object);
  void sort_members(const Container& object);

  static constexpr std::string_view kQuote = "\\\"";  // a quotation mark of the text, escaped
  std::string& out_;
  std::string escaped_;     // a string with escapes, written as text before it is embedded
  std::vector<Container> open_;
  std::vector<Member> members_;  // members of every open object, innermost last
  std::vector<std::string> escaped_keys_;
  std::vector<std::size_t> order_;
  std::string set_aside_;  // members copied out while an object is reordered
};

}  // namespace korvane::json::detail
