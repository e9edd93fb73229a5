#include "common/hex.h"

namespace korvane {
std::string encode_hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0x0f];
  }
  return hex;
}

Outcome<std::string> decode_hex(std::string_view hex) {
  if (hex.size() % 2 != 0) return error_text("odd number of hex digits");
  std::string bytes;
  bytes.reserve(hex.size() / 2);
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int high = hex_digit_value(hex[i]);
    const int low = hex_digit_value(hex[i + 1]);
    if (high < 0 || low < 0) return error_text("not a hex digit at column " + std::to_string(i + 1));
    bytes += static_cast<char>((high << 4) | low);
  }
  return bytes;
}

}  // namespace korvane
