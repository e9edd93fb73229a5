// The relay's first look at a reply: one lean pass that says whether the value reader would
// accept the text and, when it would, notes the same outline as read_outline. It knows no
// error texts: a text it turns down is read again by read_outline, which tells why.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

#include "common/byte_buffer.h"
#include "json/outline.h"

namespace korvane::json::detail {

// True when read_outline accepts `text`, with `outline` as read_outline notes it. `valid_utf8`:
// the text is known to be well-formed UTF-8.
bool quick_check(std::string_view text, TextOutline& outline, bool valid_utf8 = false);

// The quick check of a text read while it arrives: each part as it comes, so that little is
// left to check once the whole is in.
class GrowingCheck {
 public:
  // Values that start at least `sure_before` bytes before the end of what has come are checked
  // as it comes (a token that runs past that leaves the whole to the end).
  explicit GrowingCheck(std::size_t sure_before = kSureBefore);
  ~GrowingCheck();

  // The text so far, text[from..] (the buffer is sized for the whole, so it keeps its place as it
  // grows). A part is read only when the buffer has room for the 0 byte it writes after the text.
  void grew(ByteBuffer& text, std::size_t from);
  // The whole text, as quick_check tells of it.
  bool finish(std::string_view text, TextOutline& outline, bool valid_utf8);

 private:
  static constexpr std::size_t kSureBefore = std::size_t{64} << 10;
  struct Parts;
  std::size_t sure_before_;
  std::unique_ptr<Parts> parts_;
  const char* start_ = nullptr;
  bool lost_ = false;  // a part could not be told: the whole is read at the end
};

}  // namespace korvane::json::detail
