// The reader's reason texts, each written once: every error reads "<reason> at line <L> column
// <C>", worded as the reference reader words it (the conformance vectors pin each byte).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace korvane::json::detail::reason {

// The form of the text.
inline constexpr std::string_view kEofInValue = "EOF while parsing a value";
inline constexpr std::string_view kEofInList = "EOF while parsing a list";
inline constexpr std::string_view kEofInObject = "EOF while parsing an object";
inline constexpr std::string_view kEofInString = "EOF while parsing a string";
inline constexpr std::string_view kExpectedValue = "expected value";
inline constexpr std::string_view kExpectedIdent = "expected ident";
inline constexpr std::string_view kExpectedColon = "expected `:`";
inline constexpr std::string_view kExpectedListGoesOn = "expected `,` or `]`";
inline constexpr std::string_view kExpectedObjectGoesOn = "expected `,` or `}`";
inline constexpr std::string_view kKeyMustBeString = "key must be a string";
inline constexpr std::string_view kTrailingComma = "trailing comma";
inline constexpr std::string_view kTrailingCharacters = "trailing characters";
inline constexpr std::string_view kRecursionLimit = "recursion limit exceeded";

// Scalars.
inline constexpr std::string_view kInvalidNumber = "invalid number";
inline constexpr std::string_view kNumberOutOfRange = "number out of range";
inline constexpr std::string_view kInvalidEscape = "invalid escape";
inline constexpr std::string_view kEndOfHexEscape = "unexpected end of hex escape";
inline constexpr std::string_view kLoneSurrogate = "lone leading surrogate in hex escape";
inline constexpr std::string_view kInvalidCodePoint = "invalid unicode code point";
inline constexpr std::string_view kControlCharacter =
    "control character (\\u0000-\\u001F) found while parsing a string";

// Records: what a value holds, against what its field wants.
inline constexpr std::string_view kUnusableRecordLayout = "unusable record layout";

inline std::string invalid_type(std::string_view found, std::string_view expected) {
  return "invalid type: " + std::string(found) + ", expected " + std::string(expected);
}
inline std::string invalid_value(std::string_view found, std::string_view expected) {
  return "invalid value: " + std::string(found) + ", expected " + std::string(expected);
}
inline std::string invalid_length(std::size_t length, std::string_view type_name, std::size_t fields) {
  return "invalid length " + std::to_string(length) + ", expected struct " + std::string(type_name) + " with " +
         std::to_string(fields) + " elements";
}
inline std::string duplicate_field(std::string_view name) { return "duplicate field `" + std::string(name) + "`"; }
inline std::string missing_field(std::string_view name) { return "missing field `" + std::string(name) + "`"; }

}  // namespace korvane::json::detail::reason
