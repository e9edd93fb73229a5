// Numbers as the reader classifies them: unsigned, signed or floating point.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "json/value.h"
#include "platform/float_chars.h"
#include "json/writer.h"

namespace korvane::json {

// A number as the reader classifies it.
struct Number {
  enum class Kind { kUnsigned, kSigned, kFloat } kind = Kind::kUnsigned;
  std::uint64_t unsigned_value = 0;
  std::int64_t signed_value = 0;
  double float_value = 0;
  std::string_view text;  // the number as written in the input

  Value to_value() const {
    switch (kind) {
      case Kind::kUnsigned: return Value(unsigned_value);
      case Kind::kSigned: return Value(signed_value);
      case Kind::kFloat: break;
    }
    return Value(float_value);
  }

  // How an unexpected number is named in "invalid type" texts.
  std::string describe() const {
    switch (kind) {
      case Kind::kUnsigned: return "integer `" + std::to_string(unsigned_value) + "`";
      case Kind::kSigned: return "integer `" + std::to_string(signed_value) + "`";
      case Kind::kFloat: break;
    }
    std::string name = "floating point `";
    append_double(name, float_value);
    return name + "`";
  }
};

// Parses a correctly rounded double from a JSON number's text; infinity when out of range.
inline double text_to_double(std::string_view text) { return platform::chars_to_double(text); }

}  // namespace korvane::json
