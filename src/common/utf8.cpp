#include "common/utf8.h"

#include <cstdint>
#include <cstring>

namespace korvane {
namespace {

constexpr bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// True when all eight bytes at `data` are ASCII.
bool eight_ascii_bytes(const char* data) {
  std::uint64_t word = 0;
  std::memcpy(&word, data, sizeof word);
  return (word & 0x8080808080808080ULL) == 0;
}

// Length of the well-formed sequence starting at `pos`, or 0 when it is ill-formed.
std::size_t sequence_length(std::string_view bytes, std::size_t pos) {
  const auto lead = static_cast<unsigned char>(bytes[pos]);
  const std::size_t left = bytes.size() - pos;
  auto at = [&](std::size_t offset) { return static_cast<unsigned char>(bytes[pos + offset]); };
  if (lead < 0x80) return 1;
  if (lead < 0xC2) return 0;
  if (lead < 0xE0) return left >= 2 && is_continuation(at(1)) ? 2 : 0;
  if (lead < 0xF0) {
    if (left < 3 || !is_continuation(at(1)) || !is_continuation(at(2))) return 0;
    if (lead == 0xE0 && at(1) < 0xA0) return 0;  // overlong
    if (lead == 0xED && at(1) > 0x9F) return 0;  // surrogate
    return 3;
  }
  if (lead > 0xF4 || left < 4) return 0;
  if (!is_continuation(at(1)) || !is_continuation(at(2)) || !is_continuation(at(3))) return 0;
  if (lead == 0xF0 && at(1) < 0x90) return 0;  // overlong
  if (lead == 0xF4 && at(1) > 0x8F) return 0;  // above U+10FFFF
  return 4;
}

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    if (bytes.size() - pos >= 8 && eight_ascii_bytes(bytes.data() + pos)) {
      pos += 8;
      continue;
    }
    const std::size_t length = sequence_length(bytes, pos);
    if (length == 0) return false;
    pos += length;
  }
  return true;
}

char32_t next_code_point(std::string_view valid_utf8, std::size_t& pos) {
  const auto lead = static_cast<unsigned char>(valid_utf8[pos++]);
  if (lead < 0x80) return lead;
  const int continuation_bytes = lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
  char32_t code_point = lead & (0x3F >> continuation_bytes);
  for (int i = 0; i < continuation_bytes; ++i) {
    code_point = (code_point << 6) | (static_cast<unsigned char>(valid_utf8[pos++]) & 0x3Fu);
  }
  return code_point;
}

bool is_unicode_white_space(char32_t code_point) {
  switch (code_point) {
    case 0x09: case 0x0A: case 0x0B: case 0x0C: case 0x0D: case 0x20:
    case 0x85: case 0xA0: case 0x1680:
    case 0x2028: case 0x2029: case 0x202F: case 0x205F: case 0x3000:
      return true;
    default:
      return code_point >= 0x2000 && code_point <= 0x200A;
  }
}

}  // namespace korvane
