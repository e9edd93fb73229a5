#include "json/write/writer.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "json/write/escape.h"
#include "platform/float_chars.h"

namespace korvane::json {
namespace {

template <typename Integer>
void append_integer(std::string& out, Integer value) {
  char buffer[24];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
}

}  // namespace

namespace {

// Makes room for `count` more bytes and for what usually follows them, so that a long text
// is not copied again to make room for the few bytes after it.
void reserve_for_long_append(std::string& out, std::size_t count) {
  const std::size_t needed = out.size() + count;
  if (needed > out.capacity()) out.reserve(std::max(needed + 4096, 2 * out.capacity()));
}

}  // namespace

void append_json_string(std::string& out, std::string_view text) {
  reserve_for_long_append(out, text.size() + 2);
  out += '"';
  append_escaped(out, text, false);
  out += '"';
}

namespace {

// Lays out significant digits (no leading or trailing zeros) whose first digit has the
// decimal exponent `exponent`: plain notation from 1e-5 to below 1e16, else d[.ddd]e(+|-)X.
void append_decimal(std::string& out, std::string_view digits, int exponent) {
  const auto length = static_cast<int>(digits.size());
  if (exponent < -5 || exponent > 15) {
    out += digits[0];
    if (length > 1) {
      out += '.';
      out.append(digits.substr(1));
    }
    out += exponent < 0 ? "e-" : "e+";
    append_integer(out, exponent < 0 ? -exponent : exponent);
  } else if (exponent < 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-exponent - 1), '0');
    out += digits;
  } else if (length <= exponent + 1) {
    out += digits;
    out.append(static_cast<std::size_t>(exponent + 1 - length), '0');
    out += ".0";
  } else {
    out.append(digits.substr(0, static_cast<std::size_t>(exponent + 1)));
    out += '.';
    out.append(digits.substr(static_cast<std::size_t>(exponent + 1)));
  }
}

}  // namespace

void append_double(std::string& out, double value) {
  if (value == 0) {
    out += std::signbit(value) ? "-0.0" : "0.0";
    return;
  }
  // Shortest round-trip digits, in the form [-]d[.ddd]e(+|-)XX.
  char buffer[64];
  std::string_view text(buffer, platform::double_to_shortest_chars(buffer, value));
  if (text.front() == '-') {
    out += '-';
    text.remove_prefix(1);
  }
  const std::size_t e_at = text.find('e');
  char digits[24];
  std::size_t length = 0;
  for (char c : text.substr(0, e_at)) {
    if (c != '.') digits[length++] = c;
  }
  int exponent = 0;
  std::from_chars(text.data() + e_at + (text[e_at + 1] == '+' ? 2 : 1), text.data() + text.size(), exponent);
  append_decimal(out, std::string_view(digits, length), exponent);
}

bool append_number_text_shortest(std::string& out, std::string_view number) {
  if (number.empty()) return false;
  const bool negative = number.front() == '-';
  if (negative) number.remove_prefix(1);
  const std::size_t e_at = number.find_first_of("eE");
  std::string_view mantissa = number.substr(0, e_at);
  long long exponent = 0;
  if (e_at != std::string_view::npos) {
    std::string_view written = number.substr(e_at + 1);
    if (!written.empty() && written.front() == '+') written.remove_prefix(1);
    if (written.size() > 6) return false;  // far outside the exact range either way
    std::from_chars(written.data(), written.data() + written.size(), exponent);
  }
  // Significant digits, and the decimal exponent of the first one.
  char digits[16];
  std::size_t length = 0;
  long long first_exponent = 0;
  long long place = static_cast<long long>(mantissa.find('.'));
  if (place < 0) place = static_cast<long long>(mantissa.size());
  long long position = 0;  // of the current digit, counted from the first
  for (char c : mantissa) {
    if (c == '.') continue;
    ++position;
    if (length == 0 && c == '0') continue;
    if (length == 0) first_exponent = place - position;
    if (length == sizeof digits) return false;
    digits[length++] = c;
  }
  while (length > 0 && digits[length - 1] == '0') --length;
  if (length == 0) {
    out += negative ? "-0.0" : "0.0";
    return true;
  }
  // Up to 15 significant digits are exactly the shortest form of the double they denote,
  // as long as that double is normal.
  first_exponent += exponent;
  if (length > 15 || first_exponent < -300 || first_exponent > 300) return false;
  if (negative) out += '-';
  append_decimal(out, std::string_view(digits, length), static_cast<int>(first_exponent));
  return true;
}

void append_json(std::string& out, const Value& value) {
  switch (value.type()) {
    case Value::value_t::null:
    case Value::value_t::discarded: out += "null"; return;
    case Value::value_t::boolean: out += value.get<bool>() ? "true" : "false"; return;
    case Value::value_t::number_integer: append_integer(out, value.get<std::int64_t>()); return;
    case Value::value_t::number_unsigned: append_integer(out, value.get<std::uint64_t>()); return;
    case Value::value_t::number_float: append_double(out, value.get<double>()); return;
    case Value::value_t::string: append_json_string(out, value.get_ref<const Value::string_t&>()); return;
    case Value::value_t::binary: out += "null"; return;  // never made by the reader or the server
    case Value::value_t::array: {
      out += '[';
      bool first = true;
      for (const auto& element : value.get_ref<const Value::array_t&>()) {
        if (!first) out += ',';
        first = false;
        append_json(out, element);
      }
      out += ']';
      return;
    }
    case Value::value_t::object: {
      out += '{';
      bool first = true;
      for (const auto& [key, member] : value.get_ref<const Value::object_t&>()) {
        if (!first) out += ',';
        first = false;
        append_json_string(out, key);
        out += ':';
        append_json(out, member);
      }
      out += '}';
      return;
    }
  }
}

std::string to_json(const Value& value) {
  std::string out;
  append_json(out, value);
  return out;
}

}  // namespace korvane::json
