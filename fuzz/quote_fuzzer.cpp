// Quoting any bytes: the result is one quoted, printable UTF-8 text whose escapes undo to the
// input decoded with U+FFFD for each invalid sequence.
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/quote.h"
#include "fuzz_check.h"

namespace korvane::fuzz {
namespace {

bool is_control(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

// Characters that are non-printable whatever the character tables say: controls, private use
// and noncharacters.
bool must_be_escaped(char32_t c) {
  const bool private_use = (c >= 0xE000 && c <= 0xF8FF) || c >= 0xF0000;
  const bool noncharacter = (c >= 0xFDD0 && c <= 0xFDEF) || (c & 0xFFFE) == 0xFFFE;
  return is_control(c) || private_use || noncharacter;
}

// Characters that are printable and not grapheme-extending whatever the tables say.
bool must_stay_plain(char32_t c) {
  const bool ascii = c >= 0x20 && c < 0x7F && c != '"' && c != '\\';
  const bool latin1 = c >= 0xA1 && c <= 0xFF && c != 0xAD;
  const bool ideograph = c >= 0x4E00 && c <= 0x9FFF;
  return ascii || latin1 || ideograph;
}

// Reads the escape after a backslash at quoted[i]; moves i past it.
char32_t read_escape(const std::u32string& quoted, std::size_t& i, const std::string& detail) {
  FUZZ_CHECK(i < quoted.size(), "backslash at the end: " + detail);
  switch (quoted[i++]) {
    case U'0': return U'\0';
    case U't': return U'\t';
    case U'r': return U'\r';
    case U'n': return U'\n';
    case U'\\': return U'\\';
    case U'"': return U'"';
    case U'u': break;
    default: FUZZ_CHECK(false, "unknown escape: " + detail);
  }
  FUZZ_CHECK(i < quoted.size() && quoted[i] == U'{', detail);
  char32_t code_point = 0;
  std::size_t digits = 0;
  for (++i; i < quoted.size() && quoted[i] != U'}'; ++i, ++digits) {
    const char32_t c = quoted[i];
    FUZZ_CHECK((c >= U'0' && c <= U'9') || (c >= U'a' && c <= U'f'), "not lower-case hex: " + detail);
    FUZZ_CHECK(digits > 0 || c != U'0', "leading zero: " + detail);
    code_point = code_point * 16 + (c <= U'9' ? c - U'0' : c - U'a' + 10);
    FUZZ_CHECK(digits < 6 && code_point <= 0x10FFFF, "beyond U+10FFFF: " + detail);
  }
  FUZZ_CHECK(i < quoted.size() && digits > 0, "unterminated \\u{: " + detail);
  ++i;
  FUZZ_CHECK(code_point < 0xD800 || code_point > 0xDFFF, "surrogate: " + detail);
  FUZZ_CHECK(!must_stay_plain(code_point), "printable character escaped: " + detail);
  for (char32_t short_form : {U'\0', U'\t', U'\r', U'\n', U'\\', U'"'}) {
    FUZZ_CHECK(code_point != short_form, "\\u{} used where a short escape exists: " + detail);
  }
  return code_point;
}

// Undoes the quoting, checking every character on the way.
std::u32string unquote(const std::u32string& quoted, const std::string& detail) {
  FUZZ_CHECK(quoted.size() >= 2 && quoted.front() == U'"' && quoted.back() == U'"', detail);
  const std::u32string inner = quoted.substr(1, quoted.size() - 2);
  std::u32string text;
  for (std::size_t i = 0; i < inner.size();) {
    const char32_t c = inner[i++];
    if (c == U'\\') {
      text += read_escape(inner, i, detail);
      continue;
    }
    FUZZ_CHECK(c != U'"', "unescaped quote inside: " + detail);
    FUZZ_CHECK(!must_be_escaped(c), "non-printable character left as it is: " + detail);
    text += c;
  }
  return text;
}

}  // namespace
}  // namespace korvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace korvane;
  const std::string_view input = fuzz::as_text(data, size);
  const std::string quoted = quoted_text(input);
  FUZZ_CHECK(fuzz::is_well_formed_utf8(quoted), quoted);
  for (unsigned char byte : quoted) FUZZ_CHECK(byte >= 0x20 && byte != 0x7F, quoted);
  const std::u32string text = fuzz::unquote(fuzz::decode_lossy(quoted), quoted);
  FUZZ_CHECK(text == fuzz::decode_lossy(input), "escapes do not undo to the input: " + quoted);
  std::string appended = "prefix";
  append_quoted(appended, input);
  FUZZ_CHECK(appended == "prefix" + quoted, quoted);
  return 0;
}
