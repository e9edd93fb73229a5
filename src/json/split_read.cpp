#include "json/split_read.h"

#include <new>
#include <system_error>
#include <thread>

#include "common/utf8.h"
#include "json/cursor.h"
#include "json/grammar.h"
#include "json/literal_builder.h"

namespace korvane::json::detail {
namespace {

static_assert(kAllElements == TailStop::kNever);

// How far past the middle a place to split is looked for, as a share of the text.
constexpr std::size_t kSearchShare = 8;

// A literal as long as escaping could make it, quoted; pages never written cost nothing.
ByteBuffer literal_buffer(std::size_t text_size) {
  ByteBuffer literal;
  literal.reserve(2 * text_size + 64);
  literal.push_back('"');
  return literal;
}

Outcome<ByteBuffer> finish_literal(Cursor& in, bool read, ByteBuffer& literal) {
  if (!read) return error_text(in.error_text());
  literal.push_back('"');
  return std::move(literal);
}

// The second read, of the elements from the split on.
class Tail final : public TailSource {
 public:
  Tail(std::string_view bytes, std::size_t split, TailRun run) : bytes_(bytes), split_(split), stop_(run.elements) {}
  Tail(const Tail&) = delete;
  Tail& operator=(const Tail&) = delete;
  ~Tail() { stop(); }

  // False when no thread could be started.
  bool start(TailRun run) {
    if (!run.own_thread) {
      read();
      return true;
    }
    try {
      thread_ = std::thread([this] { read(); });
    } catch (const std::system_error&) {
      return false;
    }
    return true;
  }
  void stop() {
    stop_.request();
    if (thread_.joinable()) thread_.join();
  }
  ReadTail* finished() override {
    stop();
    return read_ ? &tail_ : nullptr;
  }
  bool valid_utf8() {
    stop();
    return valid_utf8_;
  }

 private:
  void read() {
    valid_utf8_ = is_valid_utf8(bytes_.substr(split_));
    try {
      tail_.literal.reserve(2 * (bytes_.size() - split_) + 64);
      Cursor in(bytes_);
      in.assume_valid_utf8();
      in.seek(split_);
      LiteralBuilder builder(tail_.literal);
      builder.begin_array();
      read_ = read_json(in, builder, kMaxDepth, &stop_);
      tail_.end = in.pos();
      tail_.depth = builder.deepest();
    } catch (const std::bad_alloc&) {
      read_ = false;
    }
    if (!read_) tail_.literal = ByteBuffer();
  }

  std::string_view bytes_;
  std::size_t split_;
  TailStop stop_;
  std::thread thread_;
  bool valid_utf8_ = false;
  bool read_ = false;
  ReadTail tail_;
};

}  // namespace

std::size_t find_split(std::string_view bytes) {
  const std::size_t end = bytes.size() / 2 + bytes.size() / kSearchShare;
  for (std::size_t comma = bytes.find(',', bytes.size() / 2); comma < end; comma = bytes.find(',', comma + 1)) {
    std::size_t before = comma;
    while (before > 0 && Cursor::is_whitespace(bytes[before - 1])) --before;
    if (before == 0 || (bytes[before - 1] != '}' && bytes[before - 1] != ']')) continue;
    std::size_t after = comma + 1;
    while (after < bytes.size() && Cursor::is_whitespace(bytes[after])) ++after;
    if (after < bytes.size() && (bytes[after] == '{' || bytes[after] == '[')) return after;
  }
  return std::string_view::npos;
}

Outcome<ByteBuffer> read_literal_alone(std::string_view bytes) {
  ByteBuffer literal = literal_buffer(bytes.size());
  Cursor in(bytes);
  const bool read = read_literal(in, literal);
  return finish_literal(in, read, literal);
}

// Both reads take the text for valid UTF-8, each checking its own part of it first: valid parts
// make a valid whole. Otherwise the text is read again alone, checking string by string, and
// fails at the first string that is invalid (a valid text split inside a character, which a
// split found never is, just reads again to the same result).
Outcome<ByteBuffer> read_literal_split(std::string_view bytes, std::size_t split, TailRun run) {
  Tail tail(bytes, split, run);
  if (!tail.start(run)) return read_literal_alone(bytes);
  const bool head_valid_utf8 = is_valid_utf8(bytes.substr(0, split));
  ByteBuffer literal = literal_buffer(bytes.size());
  Cursor in(bytes);
  in.assume_valid_utf8();
  LiteralBuilder builder(literal);
  builder.splice_at(split, tail);
  const bool read = head_valid_utf8 && read_whole(in, builder);
  const bool tail_valid_utf8 = tail.valid_utf8();  // stops the second read first
  if (!head_valid_utf8 || !tail_valid_utf8) return read_literal_alone(bytes);
  if (run.taken != nullptr) *run.taken = builder.spliced();
  return finish_literal(in, read, literal);
}

}  // namespace korvane::json::detail
