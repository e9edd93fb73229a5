// The door of src/json/relay/, the relay's check-then-write path. A JSON text relayed as the
// JSON string literal of its compact text (keys in ascending byte order, the last of repeated
// keys, as the writer writes values): read and checked whole once, then written in pieces from
// the text itself, so that the literal is never held whole.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "base/outcome.h"
#include "common/byte_buffer.h"

namespace korvane::json {
namespace detail {
struct TextOutline;
}
// The check of a reply's text while it arrives: each part as it comes, so that little is left
// to check once the whole is in (CompactLiteral::read finishes it).
class GrowingCheck {
 public:
  // Values that start at least `sure_before` bytes before the end of what has come are checked
  // as it comes (a token that runs past that leaves the whole to the end).
  explicit GrowingCheck(std::size_t sure_before = kSureBefore);
  ~GrowingCheck();

  // The text so far, text[from..] (the buffer is sized for the whole, so it keeps its place as it
  // grows). A part is read only when the buffer has room for the 0 byte it writes after the text.
  void grew(ByteBuffer& text, std::size_t from);
  // The whole text, as the quick check of it whole tells (CompactLiteral::read asks).
  bool finish(std::string_view text, detail::TextOutline& outline, bool valid_utf8);

 private:
  static constexpr std::size_t kSureBefore = std::size_t{64} << 10;
  struct Parts;
  std::size_t sure_before_;
  std::unique_ptr<Parts> parts_;
  const char* start_ = nullptr;
  bool lost_ = false;  // a part could not be told: the whole is read at the end
};

// Where a literal goes as it is written: in pieces, in order. False stops the writing.
class PieceSink {
 public:
  virtual bool put(std::string_view piece) = 0;

 protected:
  ~PieceSink() = default;
};

class CompactLiteral {
 public:
  // Reads text[from..] as one JSON text with whitespace around it, as read_value does, with
  // the same errors; takes the text over when it reads, and leaves it when it does not.
  // `valid_utf8`: text[from..] is known to be well-formed UTF-8; `parts`: the check that read
  // it while it arrived, if any. Throws std::bad_alloc when the memory that writing needs cannot
  // be had: after a successful read, writing asks for none.
  static Outcome<CompactLiteral> read(ByteBuffer& text, std::size_t from, bool valid_utf8 = false,
                                      GrowingCheck* parts = nullptr);

  CompactLiteral(CompactLiteral&&) noexcept;
  CompactLiteral& operator=(CompactLiteral&&) noexcept;
  ~CompactLiteral();

  // Writes the literal, quotes included, in pieces of a bounded size; false when the sink
  // stopped it (or, which the memory held since reading rules out, memory ran short).
  bool write(PieceSink& sink) const;
  // The whole literal at once, for small texts and tests.
  std::string text() const;
  // The text read, without what came before `from`.
  std::string_view source() const;

 private:
  struct State;
  explicit CompactLiteral(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

// Reads one JSON text as read_value does, with the same errors, without building the value,
// for writing the compact text that writing the value would give as a JSON string literal.
Outcome<CompactLiteral> read_compact_literal(std::string_view bytes);

}  // namespace korvane::json
