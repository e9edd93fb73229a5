// Text that may be read past its end. The relay's writer reads whole words and makes short
// copies past a token without asking where the text ends; it takes a PaddedText, and only pad()
// makes one, so no caller can hand it a buffer without that room.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

#include "common/byte_buffer.h"

namespace korvane::json {

// Bytes that follow a padded text: zeros after the whole text (a part of it is followed by the
// rest of the text, then the zeros).
inline constexpr std::size_t kPadding = 64;

class PaddedText {
 public:
  // buffer[from..], with kPadding zero bytes written after it that are not counted in its size
  // (the buffer grows when it has not the room: throws std::bad_alloc). It views the buffer's
  // bytes: moving the buffer keeps them where they are, growing it does not.
  static PaddedText pad(ByteBuffer& buffer, std::size_t from) {
    std::memset(buffer.tail_or_throw(kPadding), 0, kPadding);
    return PaddedText(buffer.view().substr(from));
  }

  // text[start..end), padded by what follows it.
  PaddedText part(std::size_t start, std::size_t end) const { return PaddedText(text_.substr(start, end - start)); }

  std::string_view view() const { return text_; }
  const char* begin() const { return text_.data(); }
  const char* end() const { return text_.data() + text_.size(); }
  std::size_t size() const { return text_.size(); }

 private:
  explicit PaddedText(std::string_view text) : text_(text) {}
  std::string_view text_;
};

}  // namespace korvane::json
