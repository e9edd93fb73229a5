#include "token_pieces.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace korvane::testing_support {
namespace {

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The code points of UTF-8 text (bytes that are not UTF-8 as themselves).
std::u32string code_points(std::string_view text) {
  std::u32string out;
  for (std::size_t at = 0; at < text.size();) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t next = 1; next < length && at + next < text.size(); ++next)
      c = (c << 6) | (static_cast<unsigned char>(text[at + next]) & 0x3F);
    out += c;
    at += length;
  }
  return out;
}

std::string unicode_escape(char32_t c, bool upper) {
  char buffer[16];
  const char* format = upper ? "\\u%04X" : "\\u%04x";
  if (c < 0x10000) {
    std::snprintf(buffer, sizeof buffer, format, static_cast<unsigned>(c));
    return buffer;
  }
  const char32_t above = c - 0x10000;
  return unicode_escape(0xD800 + (above >> 10), upper) + unicode_escape(0xDC00 + (above & 0x3FF), upper);
}

char short_escape(char32_t c) {
  switch (c) {
    case U'"': return '"';
    case U'\\': return '\\';
    case U'/': return '/';
    case U'\n': return 'n';
    case U'\r': return 'r';
    case U'\t': return 't';
    default: return 0;
  }
}

std::string escaped(std::string_view text, bool always_unicode, bool upper) {
  std::string out;
  for (const char32_t c : code_points(text)) {
    if (always_unicode) {
      out += unicode_escape(c, upper);
    } else if (const char letter = short_escape(c)) {
      out += '\\';
      out += letter;
    } else if (c < 0x20 || c == 0x7F) {
      out += unicode_escape(c, upper);
    } else {
      append_utf8(out, c);
    }
  }
  return out;
}

// Character by character: as it is (a character JSON must escape as upper-case \u), its short
// escape (else lower-case \u), lower-case \u, upper-case \u, and again.
std::string mixed(std::string_view text) {
  std::string out;
  int turn = 0;
  for (const char32_t c : code_points(text)) {
    const bool must_escape = short_escape(c) != 0 || c < 0x20 || c == 0x7F;
    switch (turn++ % 4) {
      case 0:
        if (must_escape) {
          out += unicode_escape(c, true);
        } else {
          append_utf8(out, c);
        }
        break;
      case 1:
        if (const char letter = short_escape(c)) {
          out += '\\';
          out += letter;
        } else {
          out += unicode_escape(c, false);
        }
        break;
      case 2: out += unicode_escape(c, false); break;
      default: out += unicode_escape(c, true);
    }
  }
  return out;
}

// What a short escape's letter stands for, or -1.
int short_escaped(char letter) {
  constexpr std::string_view kLetters = "\"\\/bfnrt0";
  constexpr std::string_view kMeanings{"\"\\/\b\f\n\r\t\0", 9};
  const std::size_t at = kLetters.find(letter);
  return at == std::string_view::npos ? -1 : kMeanings[at];
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The value of `digits` hex digits at text[at], or -1.
long hex_at(std::string_view text, std::size_t at, std::size_t digits) {
  if (at + digits > text.size()) return -1;
  long value = 0;
  for (std::size_t index = 0; index < digits; ++index) {
    const int digit = hex_value(text[at + index]);
    if (digit < 0) return -1;
    value = value * 16 + digit;
  }
  return value;
}

// Every escape of the text undone once; what is no escape stays as it is.
std::string unescaped_once(std::string_view text) {
  std::string out;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t escape = std::min(text.find('\\', at), text.size());
    out.append(text.substr(at, escape - at));
    at = escape;
    if (at + 1 >= text.size()) {
      out.append(text.substr(at));
      break;
    }
    const char kind = text[at + 1];
    if (const int meaning = short_escaped(kind); meaning >= 0) {
      out += static_cast<char>(meaning);
      at += 2;
    } else if (kind == 'u' && at + 2 < text.size() && text[at + 2] == '{') {
      const std::size_t close = text.find('}', at + 3);
      const long value =
          close == std::string_view::npos || close - at - 3 > 6 ? -1 : hex_at(text, at + 3, close - at - 3);
      if (value < 0) {
        out += text[at++];
        continue;
      }
      append_utf8(out, static_cast<char32_t>(value));
      at = close + 1;
    } else if (long value = kind == 'u' ? hex_at(text, at + 2, 4) : -1; value >= 0) {
      at += 6;
      const long low = value >= 0xD800 && value < 0xDC00 && text.substr(at, 2) == "\\u" ? hex_at(text, at + 2, 4) : -1;
      if (low >= 0xDC00 && low < 0xE000) {
        value = 0x10000 + ((value - 0xD800) << 10) + (low - 0xDC00);
        at += 6;
      }
      append_utf8(out, static_cast<char32_t>(value));
    } else {
      out += text[at++];
    }
  }
  return out;
}

}  // namespace

std::string spelled(std::string_view token, Spelling spelling) {
  switch (spelling) {
    case Spelling::kAsWriters: return escaped(token, false, false);
    case Spelling::kLowerHex: return escaped(token, true, false);
    case Spelling::kUpperHex: return escaped(token, true, true);
    case Spelling::kMixed: return mixed(token);
    case Spelling::kTwice: return escaped(mixed(token), false, false);
  }
  return std::string(token);
}

std::string token_piece_in(std::string_view text, std::string_view token) {
  std::string undone(text);
  for (int pass = 0; pass < 5; ++pass) {
    for (std::size_t at = 0; at + 8 <= token.size(); ++at) {
      if (undone.find(token.substr(at, 8)) != std::string::npos) return std::string(token.substr(at, 8));
    }
    undone = unescaped_once(undone);
  }
  return "";
}

}  // namespace korvane::testing_support
