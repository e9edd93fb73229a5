// Writing JSON-RPC responses, one compact line each.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "json/shared/value.h"
#include "protocol/result.h"

namespace korvane {

// Every error on the wire carries this code.
inline constexpr int kErrorCode = -32000;

// Watches the lines a ResponseWriter writes (main installs the trace as one). It sees the start
// of each line only, so that watching a long line costs no copy of it.
class ResponseObserver {
 public:
  // How many bytes of a line's start line_written takes.
  virtual std::size_t line_start_bytes() const = 0;
  // A line was written: its first bytes (at most line_start_bytes(), no final "\n") and the full
  // size of the line without its "\n". May throw std::bad_alloc: the line is then not watched.
  virtual void line_written(std::string_view start, std::size_t size) = 0;
  // A flush ended: every line shown to line_written went out.
  virtual void lines_written() = 0;

 protected:
  ~ResponseObserver() = default;
};

// Queues response lines and writes them in as few writes as it can. Large texts (a constant
// answer, a relayed reply) are written from where they lie, never copied into the line.
class ResponseWriter {
 public:
  explicit ResponseWriter(int fd) : fd_(fd) {}
  // Collects the lines into `lines` instead of writing them.
  explicit ResponseWriter(std::string& lines) : lines_(&lines) {}

  // Queues the line for an id and an outcome, with its final "\n". A line that cannot be held
  // in memory is replaced by the out-of-memory answer for the same id (for id null when not
  // even that can be held).
  void add(const json::Value& id, ResultOutcome outcome);
  std::size_t queued_bytes() const { return queued_bytes_; }
  // Writes every queued line and returns a failed write. Writing to standard output, a failure
  // is noted as standard output being unwritable (common/stdout_failure.h), and once that is
  // noted (here or by a tool call) nothing more is written.
  Outcome<void> flush();
  // The observer told of every line queued and written from now on; nullptr for none.
  void watch(ResponseObserver* observer) { observer_ = observer; }

 private:
  static constexpr std::size_t kNoReply = static_cast<std::size_t>(-1);
  struct Piece {
    const char* external;  // nullptr: text_[offset, offset + size)
    std::size_t offset;
    std::size_t size;
    std::size_t reply = kNoReply;  // else the relayed reply written here: replies_[reply]
  };
  // Where the queue stood before a line was added: to take the line back, or to read it.
  struct Mark {
    std::size_t pieces, text, replies, queued;
  };
  Mark mark() const { return {pieces_.size(), text_.size(), replies_.size(), queued_bytes_}; }
  void rewind(const Mark& to);
  void add_line(const json::Value& id, ResultOutcome& outcome);
  std::string_view bytes_of(std::size_t piece) const;
  Outcome<void> write_pieces(std::size_t from, std::size_t to);
  Outcome<void> write_reply(std::size_t piece);
  void show_lines() noexcept;
  void append_text(std::string_view text);
  void note_text(std::size_t start);
  void append_external(std::string_view text);
  void append_value(const json::Value& value);

  int fd_ = -1;
  std::string* lines_ = nullptr;
  std::string text_;                           // the queued lines' own bytes
  std::vector<Piece> pieces_;                  // in order: text_ ranges and outside texts
  std::vector<json::CompactLiteral> replies_;  // relayed replies queued, until written
  std::size_t queued_bytes_ = 0;
  ResponseObserver* observer_ = nullptr;
  // For the observer: how each relayed reply's literal began and how long it was, as written.
  struct WrittenReply {
    std::string start;         // as much as the observer takes, kept in room reserved before writing
    bool start_whole = false;  // false when that room could not be had: the line goes unshown
    std::size_t size = 0;
  };
  std::vector<WrittenReply> written_replies_;
};

// Appends the response line for an id and an outcome, with its final "\n".
void append_response(std::string& out, const json::Value& id, ResultOutcome outcome);

}  // namespace korvane
