#include "fuzz_check.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstdio>
#include <cstdlib>

namespace korvane::fuzz {
namespace {

constexpr std::array<std::string_view, 20> kSyntaxReasons = {
    "EOF while parsing a value",
    "EOF while parsing a string",
    "EOF while parsing a list",
    "EOF while parsing an object",
    "expected ident",
    "expected value",
    "expected `:`",
    "expected `,` or `]`",
    "expected `,` or `}`",
    "key must be a string",
    "trailing comma",
    "trailing characters",
    "invalid number",
    "number out of range",
    "invalid escape",
    "invalid unicode code point",
    "lone leading surrogate in hex escape",
    "unexpected end of hex escape",
    "control character (\\u0000-\\u001F) found while parsing a string",
    "recursion limit exceeded",
};

constexpr std::array<std::string_view, 5> kDataReasonPrefixes = {
    "invalid type: ", "invalid value: ", "invalid length ", "missing field `", "duplicate field `",
};

// Parses a decimal number that makes up the whole text.
bool parse_count(std::string_view text, std::size_t& count) {
  if (text.empty() || (text.size() > 1 && text[0] == '0')) return false;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
  return error == std::errc() && end == text.data() + text.size();
}

// The length of line `line` (1-based) in bytes, without its "\n"; npos past the last line.
std::size_t line_length(std::string_view input, std::size_t line) {
  std::size_t start = 0;
  for (std::size_t current = 1; current < line; ++current) {
    std::size_t newline = input.find('\n', start);
    if (newline == std::string_view::npos) return std::string_view::npos;
    start = newline + 1;
  }
  std::size_t end = input.find('\n', start);
  return (end == std::string_view::npos ? input.size() : end) - start;
}

}  // namespace

void fail(const char* file, int line, const char* condition, std::string_view detail) {
  std::fprintf(stderr, "\n*** property broken at %s:%d: %s\n*** %.*s\n", file, line, condition,
               static_cast<int>(std::min<std::size_t>(detail.size(), 4000)), detail.data());
  std::abort();
}

bool same_value(const json::Value& a, const json::Value& b) {
  if (a.type() != b.type()) return false;
  switch (a.type()) {
    case json::Value::value_t::number_float:
      return std::bit_cast<std::uint64_t>(a.get<double>()) == std::bit_cast<std::uint64_t>(b.get<double>());
    case json::Value::value_t::array: {
      const auto& left = a.get_ref<const json::Value::array_t&>();
      const auto& right = b.get_ref<const json::Value::array_t&>();
      return std::equal(left.begin(), left.end(), right.begin(), right.end(), same_value);
    }
    case json::Value::value_t::object: {
      const auto& left = a.get_ref<const json::Value::object_t&>();
      const auto& right = b.get_ref<const json::Value::object_t&>();
      return std::equal(left.begin(), left.end(), right.begin(), right.end(), [](const auto& x, const auto& y) {
        return x.first == y.first && same_value(x.second, y.second);
      });
    }
    default: return a == b;
  }
}

int nesting_depth(const json::Value& value) {
  if (!value.is_structured()) return 0;
  int deepest = 0;
  for (const auto& element : value) deepest = std::max(deepest, nesting_depth(element));
  return deepest + 1;
}

std::string_view checked_reason(std::string_view input, std::string_view error) {
  const std::string detail = std::string(error);
  const std::size_t at = error.rfind(" at line ");
  FUZZ_CHECK(at != std::string_view::npos, detail);
  std::string_view position = error.substr(at + 9);
  const std::size_t column_at = position.find(" column ");
  FUZZ_CHECK(column_at != std::string_view::npos, detail);
  std::size_t line = 0;
  std::size_t column = 0;
  FUZZ_CHECK(parse_count(position.substr(0, column_at), line), detail);
  FUZZ_CHECK(parse_count(position.substr(column_at + 8), column), detail);
  const auto line_count = static_cast<std::size_t>(std::count(input.begin(), input.end(), '\n')) + 1;
  FUZZ_CHECK(line >= 1 && line <= line_count, detail + " (lines: " + std::to_string(line_count) + ")");
  const std::size_t length = line_length(input, line);
  FUZZ_CHECK(column <= length, detail + " (line length: " + std::to_string(length) + ")");
  return error.substr(0, at);
}

bool is_syntax_reason(std::string_view reason) {
  return std::find(kSyntaxReasons.begin(), kSyntaxReasons.end(), reason) != kSyntaxReasons.end();
}

bool is_record_reason(std::string_view reason) {
  return is_syntax_reason(reason) || std::any_of(kDataReasonPrefixes.begin(), kDataReasonPrefixes.end(),
                                                 [&](std::string_view prefix) { return reason.starts_with(prefix); });
}

std::u32string decode_lossy(std::string_view bytes, std::size_t* invalid) {
  std::u32string out;
  std::size_t bad = 0;
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0x80) {
      out += static_cast<char32_t>(lead);
      ++i;
      continue;
    }
    // Continuation bytes needed and the allowed range of the second byte, by lead byte.
    std::size_t needed = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      needed = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      needed = 2;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      needed = 3;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    }
    char32_t code_point = lead & (0x7Fu >> (needed + 1));
    std::size_t taken = 1;
    bool complete = needed > 0;
    for (std::size_t k = 0; k < needed; ++k) {
      if (i + taken >= bytes.size()) {
        complete = false;
        break;
      }
      const auto next = static_cast<unsigned char>(bytes[i + taken]);
      if (next < (k == 0 ? low : 0x80) || next > (k == 0 ? high : 0xBF)) {
        complete = false;
        break;
      }
      code_point = (code_point << 6) | (next & 0x3Fu);
      ++taken;
    }
    out += complete ? code_point : U'\uFFFD';
    if (!complete) ++bad;
    i += taken;
  }
  if (invalid != nullptr) *invalid = bad;
  return out;
}

bool is_well_formed_utf8(std::string_view bytes) {
  std::size_t invalid = 0;
  decode_lossy(bytes, &invalid);
  return invalid == 0;
}

}  // namespace korvane::fuzz
