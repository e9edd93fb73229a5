#include "diagnostics/token_spelling.h"

#include <algorithm>
#include <array>

#include "common/utf8.h"

namespace korvane::trace {

// The ends of the spellings matched so far from one start: a handful at most in any real text;
// one more than this many is dropped, which only loses a far-fetched spelling.
class TokenSpelling::Ends {
 public:
  void add(std::size_t end) noexcept {
    if (std::find(at_.begin(), at_.begin() + count_, end) != at_.begin() + count_) return;
    if (count_ < at_.size()) at_[count_++] = end;
  }
  bool empty() const { return count_ == 0; }
  const std::size_t* begin() const { return at_.data(); }
  const std::size_t* end() const { return at_.data() + count_; }

 private:
  std::array<std::size_t, 8> at_{};
  std::size_t count_ = 0;
};

namespace {

// Writings one inside the other that a spelling may have gone through.
constexpr int kDepth = 4;

using Ends = TokenSpelling::Ends;

// One way to escape a character: its text after the backslash; hex digits may be upper case.
struct Escape {
  std::array<char, 16> text{};
  std::size_t size = 0;
  void add(char c) { text[size++] = c; }
  void add_hex(char32_t value, int digits) {
    constexpr char kHex[] = "0123456789abcdef";
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) add(kHex[(value >> shift) & 0xF]);
  }
};
using Escapes = std::array<Escape, 4>;

char short_escape(char32_t c) {
  switch (c) {
    case U'"': return '"';
    case U'\\': return '\\';
    case U'/': return '/';
    case U'\b': return 'b';
    case U'\f': return 'f';
    case U'\n': return 'n';
    case U'\r': return 'r';
    case U'\t': return 't';
    case U'\0': return '0';  // error texts quote NUL so
    default: return 0;
  }
}

std::size_t escapes_of(char32_t c, Escapes& out) {
  std::size_t count = 0;
  if (const char letter = short_escape(c)) out[count++].add(letter);
  Escape& unit = out[count++];
  if (c < 0x10000) {
    unit.add('u');
    unit.add_hex(c, 4);
  } else {
    const char32_t above = c - 0x10000;
    unit.add('u');
    unit.add_hex(0xD800 + (above >> 10), 4);
    unit.add('\\');
    unit.add('u');
    unit.add_hex(0xDC00 + (above & 0x3FF), 4);
  }
  Escape& braced = out[count++];
  braced.add('u');
  braced.add('{');
  int digits = 1;
  while (digits < 6 && (c >> (4 * digits)) != 0) ++digits;
  braced.add_hex(c, digits);
  braced.add('}');
  return count;
}

bool is_hex_letter(char c) { return (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

char other_case(char c) { return static_cast<char>(c ^ 0x20); }

// The ends of the spellings at `depth` of one character of an escape, from `at`: as it is
// (either case for a hex letter); a backslash or quotation mark also escaped by a later writing.
void spell_escape_character(std::string_view text, std::size_t at, char c, int depth, Ends& ends) {
  if (depth == 0) {
    if (at < text.size() && (text[at] == c || (is_hex_letter(c) && text[at] == other_case(c)))) ends.add(at + 1);
    return;
  }
  spell_escape_character(text, at, c, depth - 1, ends);
  if (c != '\\' && c != '"') return;
  Ends backslash;
  spell_escape_character(text, at, '\\', depth - 1, backslash);
  for (const std::size_t next : backslash) spell_escape_character(text, next, c, depth - 1, ends);
}

// The ends of an escape written at `depth` (a backslash, then its text), from `at`.
void spell_escape(std::string_view text, std::size_t at, const Escape& escape, int depth, Ends& ends) {
  Ends current;
  spell_escape_character(text, at, '\\', depth, current);
  for (std::size_t index = 0; index < escape.size && !current.empty(); ++index) {
    Ends next;
    for (const std::size_t from : current) spell_escape_character(text, from, escape.text[index], depth, next);
    current = next;
  }
  for (const std::size_t end : current) ends.add(end);
}

// The longest spelling spell_escape_character matches.
std::size_t longest_escape_character(char c, int depth) { return c == '\\' || c == '"' ? std::size_t{1} << depth : 1; }

}  // namespace

TokenSpelling::TokenSpelling(std::string_view token) : token_(token) {
  for (std::size_t at = 0; at < token_.size();) {
    const Utf8Char decoded = decode_utf8(token_, at);
    const std::size_t length = decoded.valid ? decoded.length : 1;
    characters_.push_back({decoded.valid ? decoded.code_point : 0, at, length, decoded.valid});
    at += length;
  }
  for (const Character& character : characters_) {
    std::size_t longest = character.length;
    if (character.decoded) {
      Escapes escapes;
      const std::size_t count = escapes_of(character.code_point, escapes);
      for (int depth = 0; depth < kDepth; ++depth) {
        // Escaped by the writing after `depth` others, which then escape that escape's backslashes.
        for (std::size_t index = 0; index < count; ++index) {
          std::size_t size = longest_escape_character('\\', kDepth - 1 - depth);
          for (std::size_t at = 0; at < escapes[index].size; ++at)
            size += longest_escape_character(escapes[index].text[at], kDepth - 1 - depth);
          longest = std::max(longest, size);
        }
      }
    }
    longest_ += longest;
  }
}

// The ends of the spellings at `depth` of one character of the token, from `at`: as the
// writings before leave it, or escaped by one of them.
void TokenSpelling::spell(std::string_view text, std::size_t at, const Character& character, int depth,
                          Ends& ends) const noexcept {
  if (depth == 0) {
    if (text.substr(at, character.length) == std::string_view(token_).substr(character.start, character.length))
      ends.add(at + character.length);
    return;
  }
  spell(text, at, character, depth - 1, ends);
  if (!character.decoded) return;
  Escapes escapes;
  const std::size_t count = escapes_of(character.code_point, escapes);
  for (std::size_t index = 0; index < count; ++index) spell_escape(text, at, escapes[index], depth - 1, ends);
}

// Whether a spelling of the first character could start at a backslash whose run of backslashes
// (an escape's, escaped again by later writings) ends at `rest`: there comes the rest of one of
// its escapes, which later writings leave as it is. Cheap, and false almost everywhere in text
// dense with other escapes.
bool TokenSpelling::could_start_with_escape(std::string_view text, std::size_t rest) const noexcept {
  const Character& first = characters_.front();
  if (!first.decoded) return false;
  if (first.code_point == U'\\' || first.code_point == U'"') return true;  // escaped by later writings
  if (rest >= text.size()) return false;
  Escapes escapes;
  const std::size_t count = escapes_of(first.code_point, escapes);
  for (std::size_t index = 0; index < count; ++index) {
    const Escape& escape = escapes[index];
    std::size_t same = 0;  // up to a surrogate pair's second backslash
    while (same < escape.size && escape.text[same] != '\\' && rest + same < text.size() &&
           (text[rest + same] == escape.text[same] ||
            (is_hex_letter(escape.text[same]) && text[rest + same] == other_case(escape.text[same]))))
      ++same;
    if (same == escape.size || escape.text[same] == '\\') return true;
  }
  return false;
}

std::size_t TokenSpelling::match_at(std::string_view text, std::size_t at) const noexcept {
  Ends current;
  current.add(at);
  for (const Character& character : characters_) {
    Ends next;
    for (const std::size_t from : current) spell(text, from, character, kDepth, next);
    if (next.empty()) return 0;
    current = next;
  }
  return *std::max_element(current.begin(), current.end()) - at;
}

TokenSpelling::Found TokenSpelling::find(std::string_view text, std::size_t from, std::size_t until) const noexcept {
  if (token_.empty()) return {std::string_view::npos, 0};
  // A spelling starts with the token's first byte or with an escape's backslash.
  const std::string_view searched = text.substr(0, std::min(until, text.size()));
  std::size_t next_first = searched.find(token_.front(), from);
  std::size_t next_escape = searched.find('\\', from);
  std::size_t run_end = 0;  // where the run of backslashes last looked at ends: each run is read once
  while (next_first != std::string_view::npos || next_escape != std::string_view::npos) {
    const std::size_t at = std::min(next_first, next_escape);
    if (text[at] == '\\' && run_end <= at) run_end = std::min(text.find_first_not_of('\\', at), text.size());
    if (text[at] != '\\' || could_start_with_escape(text, run_end)) {
      if (const std::size_t size = match_at(text, at); size > 0) return {at, size};
    }
    if (next_first == at) next_first = searched.find(token_.front(), at + 1);
    if (next_escape == at) next_escape = searched.find('\\', at + 1);
  }
  return {std::string_view::npos, 0};
}

}  // namespace korvane::trace
