#include "common/hex.h"

namespace korvane {
namespace {

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

Outcome<std::string> decode_hex(std::string_view hex) {
  if (hex.size() % 2 != 0) return error_text("odd number of hex digits");
  std::string bytes;
  bytes.reserve(hex.size() / 2);
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int high = hex_digit(hex[i]);
    const int low = hex_digit(hex[i + 1]);
    if (high < 0 || low < 0) return error_text("not a hex digit at column " + std::to_string(i + 1));
    bytes += static_cast<char>((high << 4) | low);
  }
  return bytes;
}

}  // namespace korvane
