// UTF-8: the one decoder of the server, and the check of whole byte strings that arrive from
// outside (input lines, app replies, the environment).
#pragma once

#include <cstddef>
#include <string_view>

#include "common/byte_vector.h"

namespace korvane {

// One decoded character, or (valid == false) one maximal invalid subpart of `length` bytes:
// the longest prefix of a well-formed sequence, or a single byte that starts none.
struct Utf8Char {
  char32_t code_point;
  std::size_t length;
  bool valid;
};

// Decodes the sequence that starts at `pos` (< bytes.size()).
Utf8Char decode_utf8(std::string_view bytes, std::size_t pos);

// Appends the UTF-8 form of a Unicode scalar value. Out: anything with push_back(char).
template <typename Out>
void append_utf8(Out& out, char32_t code_point) {
  const auto byte = [](char32_t bits) { return static_cast<char>(bits); };
  if (code_point < 0x80) {
    out.push_back(byte(code_point));
  } else if (code_point < 0x800) {
    out.push_back(byte(0xC0 | (code_point >> 6)));
    out.push_back(byte(0x80 | (code_point & 0x3F)));
  } else if (code_point < 0x10000) {
    out.push_back(byte(0xE0 | (code_point >> 12)));
    out.push_back(byte(0x80 | ((code_point >> 6) & 0x3F)));
    out.push_back(byte(0x80 | (code_point & 0x3F)));
  } else {
    out.push_back(byte(0xF0 | (code_point >> 18)));
    out.push_back(byte(0x80 | ((code_point >> 12) & 0x3F)));
    out.push_back(byte(0x80 | ((code_point >> 6) & 0x3F)));
    out.push_back(byte(0x80 | (code_point & 0x3F)));
  }
}

// True when the bytes are well-formed UTF-8: no overlong forms, surrogates, code points above
// U+10FFFF or truncated sequences. Sixteen bytes at a time where the CPU has vectors.
bool is_valid_utf8(std::string_view bytes);

// Checks a text that grows at its end as it grows, each part once: a reply while it arrives.
class GrowingUtf8Check {
 public:
  // Checks what `text` (the text so far) holds past what was checked before, up to the last
  // character that may go on.
  void grew(std::string_view text);
  // Whether the whole of `text` is well-formed, checking what is left of it.
  bool whole(std::string_view text);

 private:
  std::size_t checked_ = 0;
  bool valid_ = true;
};

// The two ways of checking, each always the same answer; is_valid_utf8 picks the faster.
namespace utf8_paths {
bool valid_by_words(std::string_view bytes);  // eight ASCII bytes at a time, then the decoder
#if defined(KORVANE_BYTE_VECTOR)
bool valid_by_vectors(std::string_view bytes);
#endif
}  // namespace utf8_paths

// White space in the Unicode sense (the White_Space property).
bool is_unicode_white_space(char32_t code_point);

}  // namespace korvane
