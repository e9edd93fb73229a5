#include "platform/float_chars.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/features.h"

namespace korvane::platform {
namespace {

// Reads a double the C library's way; numbers here are short, so the copy is cheap.
double strtod_of(std::string_view text) {
  char buffer[64];
  if (text.size() < sizeof buffer) {
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
    return std::strtod(buffer, nullptr);
  }
  const std::string terminated(text);
  return std::strtod(terminated.c_str(), nullptr);
}

// The correctly rounded `digits` significant digits of value in %e form, at `out`.
std::size_t scientific(char* out, double value, int digits) {
  return static_cast<std::size_t>(std::snprintf(out, 32, "%.*e", digits - 1, value));
}

// Steps the last mantissa digit of a %e text by +1 or -1, carrying; false when it cannot
// (the step would change the digit count or the exponent).
bool step_last_digit(char* text, std::size_t length, int step) {
  const char* e = static_cast<const char*>(std::memchr(text, 'e', length));
  if (e == nullptr) return false;
  for (char* at = const_cast<char*>(e) - 1; at >= text; --at) {
    if (*at == '.') continue;
    if (*at < '0' || *at > '9') return false;
    if (step > 0 && *at != '9') return ++*at, true;
    if (step < 0 && *at != '0') {
      if (*at == '1' && (at == text || at[-1] == '-')) return false;  // leading digit to zero
      return --*at, true;
    }
    *at = step > 0 ? '0' : '9';
  }
  return false;
}

// Whether a text reads back as exactly this double.
bool round_trips(const char* text, std::size_t length, double value) {
  return strtod_of(std::string_view(text, length)) == value;
}

}  // namespace

double chars_to_double(std::string_view text) {
#if KORVANE_HAVE_FROM_CHARS_DOUBLE
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error == std::errc() && end == text.data() + text.size()) return value;
#endif
  // Out of range (or no from_chars for doubles, as in libc++ 19): strtod gives infinity on overflow, zero or a
  // subnormal on underflow, and is correctly rounded in glibc and in Apple's libc.
  return strtod_of(text);
}

std::size_t double_to_shortest_chars_by_search(char* out, double value) {
  // The nearest d-digit decimal is the first candidate; where the rounding interval is lopsided
  // (at a power of two) a neighbour of it may read back when it does not.
  for (int digits = 1; digits <= 17; ++digits) {
    const std::size_t length = scientific(out, value, digits);
    if (round_trips(out, length, value)) return length;
    for (int step : {1, -1}) {
      char candidate[32];
      std::memcpy(candidate, out, length + 1);
      if (step_last_digit(candidate, length, step) && round_trips(candidate, length, value)) {
        std::memcpy(out, candidate, length + 1);
        return length;
      }
    }
  }
  return scientific(out, value, 17);
}

std::size_t double_to_shortest_chars(char* out, double value) {
  // Where the standard library has it at the deployment target: Apple's libc++ has it from
  // macOS 13.3 on and refuses to compile it for an earlier target.
#if KORVANE_HAVE_TO_CHARS_DOUBLE
  const auto result = std::to_chars(out, out + 32, value, std::chars_format::scientific);
  return static_cast<std::size_t>(result.ptr - out);
#else
  return double_to_shortest_chars_by_search(out, value);
#endif
}

}  // namespace korvane::platform
