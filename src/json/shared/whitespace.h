// JSON's whitespace: space, tab, CR and LF, and passing over it.
#pragma once

#include <cstdint>

namespace korvane::json {

inline bool is_json_space(char c) {
  constexpr std::uint64_t kSpaces = (1ULL << ' ') | (1ULL << '\n') | (1ULL << '\t') | (1ULL << '\r');
  const auto byte = static_cast<unsigned char>(c);
  return byte <= ' ' && ((kSpaces >> byte) & 1) != 0;
}

// Past the whitespace at p, in a text whose end is known to be no whitespace (a closing
// bracket, or the 0 byte a padded text ends with).
inline const char* skip_json_space(const char* p) {
  while (is_json_space(*p)) ++p;
  return p;
}

// Past the whitespace at p, stopping at `end`.
inline const char* skip_json_space(const char* p, const char* end) {
  while (p < end && is_json_space(*p)) ++p;
  return p;
}

}  // namespace korvane::json
