// Property checks shared by the fuzz targets. A broken property prints what broke and aborts,
// so libFuzzer keeps the input that caused it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "json/shared/value.h"

#define FUZZ_CHECK(condition, detail)                                                  \
  do {                                                                                 \
    if (!(condition)) ::korvane::fuzz::fail(__FILE__, __LINE__, #condition, (detail)); \
  } while (false)

namespace korvane::fuzz {

[[noreturn]] void fail(const char* file, int line, const char* condition, std::string_view detail);

inline std::string_view as_text(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// Same types, same bits (doubles compared bit for bit, so 0.0 and -0.0 differ), same order.
bool same_value(const json::Value& a, const json::Value& b);

// Nesting depth of arrays and objects: 0 for a scalar.
int nesting_depth(const json::Value& value);

// Checks that an error text ends in " at line L column C" with L and C inside the input
// (L at most the number of lines, C at most the length of line L) and returns the reason before it.
std::string_view checked_reason(std::string_view input, std::string_view error);

// The reasons a syntax error may give.
bool is_syntax_reason(std::string_view reason);

// The reasons reading a record may give: syntax reasons and the data errors of a field.
bool is_record_reason(std::string_view reason);

// Decodes UTF-8 with each maximal invalid subpart replaced by U+FFFD; `invalid` counts them.
// Written from the Unicode table of well-formed byte sequences, independently of the server.
std::u32string decode_lossy(std::string_view bytes, std::size_t* invalid = nullptr);

// True when the bytes are well-formed UTF-8.
bool is_well_formed_utf8(std::string_view bytes);

}  // namespace korvane::fuzz
