// Builds a value tree from what the grammar reads.
#pragma once

#include <string>
#include <vector>

#include "json/read/number.h"
#include "json/read/scalars.h"
#include "json/shared/value.h"

namespace korvane::json::detail {

// A repeated object key keeps its last value.
class TreeBuilder {
 public:
  static constexpr bool kSkipping = false;

  Value take() { return std::move(root_); }

  void null_value() { slot() = nullptr; }
  void boolean(bool value) { slot() = value; }
  void number(const Number& number) { slot() = number.to_value(); }
  DecodedText& value_text() { return fresh_text(); }
  void string(const StringRead&) { slot() = std::string(text_.text()); }
  void begin_array() { open(Value::array()); }
  void end_array() { stack_.pop_back(); }
  void begin_object() { open(Value::object()); }
  DecodedText& key_text() { return fresh_text(); }
  void key(const StringRead&) { key_.assign(text_.text()); }
  void end_object() { stack_.pop_back(); }

 private:
  Value& slot();
  void open(Value container);
  DecodedText& fresh_text() {
    text_ = DecodedText(scratch_);
    return text_;
  }

  Value root_;
  std::vector<Value*> stack_;  // the open containers, innermost last
  std::string key_;            // the key of the next object member
  std::string scratch_;        // a string's text, when it holds escapes
  DecodedText text_{scratch_};
};

}  // namespace korvane::json::detail
