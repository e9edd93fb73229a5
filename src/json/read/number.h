// Numbers as the reader classifies them: unsigned, signed or floating point.
#pragma once

#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>

#include "json/shared/value.h"
#include "json/write/writer.h"
#include "platform/float_chars.h"

namespace korvane::json {

// An integer without fraction or exponent that fits in 64 bits (signed below zero) is an
// integer; "-0", longer integers and every other number are doubles.
// The values are worked out from the text when they are asked for: copying a number as it
// stands needs none of them.
struct Number {
  enum class Kind { kUnsigned, kSigned, kFloat } kind = Kind::kUnsigned;
  std::string_view text;  // the number as written in the input

  std::uint64_t unsigned_value() const { return integer_value<std::uint64_t>(); }
  std::int64_t signed_value() const { return integer_value<std::int64_t>(); }
  // The correctly rounded double of a float's text (zero where its exponent underflows).
  double float_value() const { return platform::chars_to_double(text); }

  Value to_value() const {
    switch (kind) {
      case Kind::kUnsigned: return Value(unsigned_value());
      case Kind::kSigned: return Value(signed_value());
      case Kind::kFloat: break;
    }
    return Value(float_value());
  }

  // How an unexpected number is named in "invalid type" texts.
  std::string describe() const {
    switch (kind) {
      case Kind::kUnsigned: return "integer `" + std::to_string(unsigned_value()) + "`";
      case Kind::kSigned: return "integer `" + std::to_string(signed_value()) + "`";
      case Kind::kFloat: break;
    }
    std::string name = "floating point `";
    append_double(name, float_value());
    return name + "`";
  }

 private:
  template <typename Integer>
  Integer integer_value() const {
    Integer value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
  }
};

}  // namespace korvane::json
