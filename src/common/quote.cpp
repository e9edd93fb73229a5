#include "common/quote.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>

#include "common/utf8.h"

namespace korvane {
namespace {

struct CodePointRange {
  char32_t first;
  char32_t last;
};

#include "common/unicode_tables.inc"

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

// ASCII bytes copied as they are: printable and not backslash-escaped.
constexpr std::array<bool, 256> kPlainAscii = [] {
  std::array<bool, 256> plain{};
  for (int byte = 0x20; byte < 0x7F; ++byte) plain[byte] = byte != '"' && byte != '\\';
  return plain;
}();

bool is_escaped(char32_t code_point) {
  const auto* after = std::upper_bound(std::begin(kEscapedRanges), std::end(kEscapedRanges), code_point,
                                       [](char32_t value, const CodePointRange& range) { return value < range.first; });
  return after != std::begin(kEscapedRanges) && code_point <= std::prev(after)->last;
}

void append_hex_escape(std::string& out, char32_t code_point) {
  std::array<char, 8> digits{};
  const auto result =
      std::to_chars(digits.data(), digits.data() + digits.size(), static_cast<std::uint32_t>(code_point), 16);
  out += "\\u{";
  out.append(digits.data(), result.ptr);
  out += '}';
}

void append_escaped(std::string& out, char32_t code_point) {
  switch (code_point) {
    case U'\0': out += "\\0"; break;
    case U'\t': out += "\\t"; break;
    case U'\r': out += "\\r"; break;
    case U'\n': out += "\\n"; break;
    case U'\\': out += "\\\\"; break;
    case U'"': out += "\\\""; break;
    default: append_hex_escape(out, code_point);
  }
}

}  // namespace

void append_quoted(std::string& out, std::string_view bytes) {
  out.reserve(out.size() + bytes.size() + 2);
  out += '"';
  std::size_t verbatim_start = 0;  // bytes[verbatim_start, pos) are still to be copied as they are
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    const auto byte = static_cast<unsigned char>(bytes[pos]);
    if (kPlainAscii[byte]) {
      ++pos;
      continue;
    }
    Utf8Char decoded{byte, 1, true};
    if (byte >= 0x80) {
      decoded = decode_utf8(bytes, pos);
      if (decoded.valid && !is_escaped(decoded.code_point)) {
        pos += decoded.length;
        continue;
      }
    }
    out.append(bytes.substr(verbatim_start, pos - verbatim_start));
    if (decoded.valid) {
      append_escaped(out, decoded.code_point);
    } else {
      out += kReplacementCharacter;
    }
    pos += decoded.length;
    verbatim_start = pos;
  }
  out.append(bytes.substr(verbatim_start));
  out += '"';
}

std::string quoted_text(std::string_view bytes) {
  std::string out;
  append_quoted(out, bytes);
  return out;
}

}  // namespace korvane
