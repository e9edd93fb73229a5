// Looking for a token in recorded or shown text however it is written there: as it is, escaped
// as JSON may escape it, quoted as error texts quote bytes, and any of these inside another.
#pragma once

#include <string>
#include <string_view>

namespace korvane::testing_support {

// Ways to write a token inside a JSON string.
enum class Spelling {
  kAsWriters,  // short escapes where they exist (\/ included), \u escapes for controls and DEL
  kLowerHex,   // every character as \uXXXX, lower-case hex
  kUpperHex,   // every character as \uXXXX, upper-case hex
  kMixed,      // as it is, short escape, lower-case and upper-case \u in turn
  kTwice,      // kMixed, then escaped again as a JSON string
};
inline constexpr Spelling kSpellings[] = {Spelling::kAsWriters, Spelling::kLowerHex, Spelling::kUpperHex,
                                          Spelling::kMixed, Spelling::kTwice};

// The token (UTF-8) as JSON string text in that spelling.
std::string spelled(std::string_view token, Spelling spelling);

// The first 8 bytes in a row of the token found in the text or in the text with its escapes
// undone once, twice, ... (\uXXXX in either case, surrogate pairs, \u{X}, short escapes, \0),
// or "" when there are none.
std::string token_piece_in(std::string_view text, std::string_view token);

}  // namespace korvane::testing_support
