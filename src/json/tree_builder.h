// Builds a value tree from what the grammar reads.
#pragma once

#include <string>
#include <vector>

#include "json/number.h"
#include "json/scalars.h"
#include "json/value.h"

namespace korvane::json::detail {

// A repeated object key keeps its last value.
class TreeBuilder {
 public:
  static constexpr bool kSkipping = false;
  static constexpr bool kDecodesKeys = true;
  static constexpr bool kDecodesStrings = true;

  Value take() { return std::move(root_); }

  void null_value() { slot() = nullptr; }
  void boolean(bool value) { slot() = value; }
  void number(const Number& number) { slot() = number.to_value(); }
  void string(const StringRead& text) { slot() = std::string(text.text); }
  void begin_array() { open(Value::array()); }
  void end_array() { stack_.pop_back(); }
  void begin_object() { open(Value::object()); }
  void key(const StringRead& key) { key_.assign(key.text); }
  void end_object() { stack_.pop_back(); }

 private:
  Value& slot();
  void open(Value container);

  Value root_;
  std::vector<Value*> stack_;  // the open containers, innermost last
  std::string key_;            // the key of the next object member
};

}  // namespace korvane::json::detail
