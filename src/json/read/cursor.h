// The reader's position in its input and the first error it met, with the position rules of
// its error texts: "<reason> at line <L> column <C>".
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>

#include "common/utf8.h"
#include "json/shared/whitespace.h"

namespace korvane::json::detail {

class Cursor {
 public:
  explicit Cursor(std::string_view input) : in_(input) {}

  const char* data() const { return in_.data(); }
  std::size_t size() const { return in_.size(); }
  std::size_t pos() const { return pos_; }
  std::string_view slice(std::size_t from, std::size_t to) const { return in_.substr(from, to - from); }
  // Whether a string of the input is well-formed UTF-8. A large input is checked whole, at the
  // first string that asks, and its strings need no check of their own when it passes.
  bool is_utf8(std::string_view text) {
    if (checked_whole_ == Whole::kUnknown && in_.size() >= kCheckedWholeFrom) {
      checked_whole_ = is_valid_utf8(in_) ? Whole::kValid : Whole::kInvalid;
    }
    return checked_whole_ == Whole::kValid || is_valid_utf8(text);
  }

  // For a reader whose input is checked elsewhere: no string is checked.
  void assume_valid_utf8() { checked_whole_ = Whole::kValid; }

  bool at_end() const { return pos_ >= in_.size(); }
  int peek() const { return at_end() ? -1 : static_cast<unsigned char>(in_[pos_]); }
  char take() { return in_[pos_++]; }
  void advance(std::size_t count = 1) { pos_ += count; }
  void seek(std::size_t pos) { pos_ = pos; }
  // Skips space, tab, CR and LF; the byte after them, or -1 at the end.
  int skip_whitespace() {
    while (pos_ < in_.size() && is_json_space(in_[pos_])) ++pos_;
    return peek();
  }

  // Errors; the first one wins and every call returns false. A peeked error stands at the byte
  // looked at but not consumed, a consumed one after the bytes consumed so far; a data error
  // (a wrong type, length or field) is positioned later, where the enclosing value gives up.
  bool peek_error(std::string_view reason) { return fail_at(reason, std::min(pos_ + 1, in_.size())); }
  bool consumed_error(std::string_view reason) { return fail_at(reason, pos_); }
  bool data_error(std::string reason) {
    if (!failed_) {
      failed_ = true;
      reason_ = std::move(reason);
    }
    return false;
  }
  void fix_position() {
    if (failed_ && !positioned_) {
      positioned_ = true;
      error_index_ = pos_;
    }
  }
  bool failed() const { return failed_; }

  std::string error_text() const {
    const std::string_view before = in_.substr(0, error_index_);
    const std::size_t last_newline = before.rfind('\n');
    const auto line = 1 + static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
    const std::size_t column = last_newline == std::string_view::npos ? error_index_ : error_index_ - last_newline - 1;
    return reason_ + " at line " + std::to_string(line) + " column " + std::to_string(column);
  }

 private:
  static constexpr std::size_t kCheckedWholeFrom = 4096;
  enum class Whole { kUnknown, kValid, kInvalid };

  bool fail_at(std::string_view reason, std::size_t index) {
    if (!failed_) {
      failed_ = positioned_ = true;
      reason_ = reason;
      error_index_ = index;
    }
    return false;
  }

  std::string_view in_;
  std::size_t pos_ = 0;
  Whole checked_whole_ = Whole::kUnknown;
  bool failed_ = false;
  bool positioned_ = false;
  std::string reason_;
  std::size_t error_index_ = 0;
};

}  // namespace korvane::json::detail
