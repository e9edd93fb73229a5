// Bytes as hex digits and back: test data, the stand-in app's reply files and its tokens.
#pragma once

#include <string>
#include <string_view>

#include "base/outcome.h"

namespace korvane {

// The value of one hex digit (either case), or -1.
constexpr int hex_digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Two lowercase hex digits per byte.
std::string encode_hex(std::string_view bytes);

// The bytes of pairs of hex digits (either case); an error for an odd count or a non-hex digit.
Outcome<std::string> decode_hex(std::string_view hex);

}  // namespace korvane
