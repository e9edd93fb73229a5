// Finding a token in recorded text however it is spelled there: JSON can write each of its
// characters as it is, with a short escape (\" \\ \/ \b \f \n \r \t), as \uXXXX in either case
// of hex (a surrogate pair past the first plane), and error texts quote bytes as \u{X} and \0;
// a text holding such a spelling may be escaped again, up to four writings one inside the
// other (a token escaped in a JSON text that an argument holds, escaped again in that line,
// quoted in an error text that is escaped in a response line). A writing after the first
// escapes what it finds as it is, and of an escape only what writers escape there: the backslash.
// Matching runs on the text as it is, so text that is no valid JSON is matched as well.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace korvane::trace {

class TokenSpelling {
 public:
  explicit TokenSpelling(std::string_view token);

  // Where the earliest spelling of the token starting in [from, until) starts, and how long
  // the longest spelling starting there is; {npos, 0} when there is none.
  struct Found {
    std::size_t at;
    std::size_t size;
  };
  Found find(std::string_view text, std::size_t from, std::size_t until) const noexcept;

  class Ends;  // where the spellings matched so far end

  // The longest spelling that find can match.
  std::size_t longest() const { return longest_; }
  const std::string& token() const { return token_; }

 private:
  struct Character {
    char32_t code_point;
    std::size_t start;  // its bytes in the token
    std::size_t length;
    bool decoded;  // false for a byte that is no UTF-8: only that byte spells it
  };
  void spell(std::string_view text, std::size_t at, const Character& character, int depth, Ends& ends) const noexcept;
  bool could_start_with_escape(std::string_view text, std::size_t rest) const noexcept;
  std::size_t match_at(std::string_view text, std::size_t at) const noexcept;

  std::string token_;
  std::vector<Character> characters_;
  std::size_t longest_ = 0;
};

}  // namespace korvane::trace
