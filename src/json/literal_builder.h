// Writes the compact text of what the grammar reads, as the content of a JSON string literal,
// without building a value: what writing the value tree and then quoting that text as a JSON
// string would give (keys in ascending byte order, the last of repeated keys).
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/byte_buffer.h"
#include "json/compact_literal.h"
#include "json/cursor.h"
#include "json/number.h"
#include "json/scalars.h"

namespace korvane::json::detail {

// A sink that writes a string's text as the compact text has it, escaped once more for the
// literal: plain runs as they are, each escape as what writing its character gives.
class LiteralText {
 public:
  explicit LiteralText(ByteBuffer& out) : out_(out) {}
  void run(std::string_view bytes, bool) { out_.append(bytes); }
  void character(char c);
  void code_point(char32_t c);

 private:
  ByteBuffer& out_;
};

// Writes a text that has been read and checked whole before (see CompactLiteral).
class LiteralBuilder {
 public:
  static constexpr bool kSkipping = false;
  static constexpr bool kChecked = true;

  explicit LiteralBuilder(ByteBuffer& out) : out_(out), value_text_(out) {}

  // Hands what is written to `sink` whenever `piece` bytes are held at a place where no object
  // is open (nothing written there is moved again); the buffer starts over after each piece.
  void drain_to(PieceSink& sink, std::size_t piece) {
    sink_ = &sink;
    piece_ = piece;
    stopped_ = false;
  }
  // Hands on what is held; false when the sink has stopped the writing.
  bool drain();
  // Takes up front all the memory that reading a text needs, handed on in pieces of `piece`
  // bytes, when no span of it between two places where no object is open is longer than
  // `span` and its open objects never hold more than `members` members at once; throws
  // std::bad_alloc.
  void reserve_for(std::size_t span, std::size_t piece, std::size_t members);

  void null_value() { write_scalar("null"); }
  void boolean(bool value) { write_scalar(value ? "true" : "false"); }
  [[gnu::always_inline]] inline void number(const Number& number);
  LiteralText& value_text() {
    before_value();
    out_.append(kQuote);
    return value_text_;
  }
  void string(const StringRead&) { out_.append(kQuote); }
  void begin_array();
  void end_array();
  void begin_object();
  DecodedText& key_text() {
    key_text_ = DecodedText(key_scratch_);
    return key_text_;
  }
  [[gnu::always_inline]] inline void key(const StringRead& key);
  void end_object();

 private:
  struct Member {
    std::size_t start;        // where its "key":value text starts in the output
    std::size_t key_length;   // of the decoded key
    std::size_t escaped_key;  // where its decoded key starts in escaped_keys_, or kVerbatim
    std::uint64_t prefix;     // the key's first 8 bytes, big-endian, zero-padded: orders most keys
  };
  static constexpr std::size_t kVerbatim = static_cast<std::size_t>(-1);
  struct Container {
    bool is_object;
    bool empty = true;
    bool in_order = true;           // keys so far strictly ascending
    std::size_t first_member = 0;   // its members' index in members_
    std::size_t first_escaped = 0;  // where its escaped keys start in escaped_keys_
  };

  // A member's decoded key: the output text itself unless the key held escapes.
  std::string_view key_of(const Member& member) const {
    if (member.escaped_key != kVerbatim)
      return std::string_view(escaped_keys_).substr(member.escaped_key, member.key_length);
    return out_.view().substr(member.start + kQuote.size(), member.key_length);
  }
  int compare_keys(std::size_t a, std::size_t b) const;
  bool key_before(std::size_t a, std::size_t b) const {
    const int by_key = compare_keys(a, b);
    return by_key != 0 ? by_key < 0 : a < b;
  }

  void before_value() {
    if (objects_open_ == 0 && out_.size() >= piece_) (void)drain();
    if (open_.empty() || open_.back().is_object) return;  // an object's key wrote the comma
    if (!open_.back().empty) out_.push_back(',');
    open_.back().empty = false;
  }
  void write_scalar(std::string_view text) {
    before_value();
    out_.append(text);
  }
  [[gnu::always_inline]] inline void write_key(const StringRead& key, bool first);
  void order_members(const Container& object);
  bool same_keys_as_last(const Container& object) const;
  void sort_members(const Container& object);

  static constexpr std::string_view kQuote = "\\\"";  // a quotation mark of the text, escaped
  ByteBuffer& out_;
  LiteralText value_text_;
  std::string key_scratch_;  // a key's text, when it holds escapes
  DecodedText key_text_{key_scratch_};
  std::string number_;  // a number rewritten
  std::vector<Container> open_;
  std::vector<Member> members_;     // members of every open object, innermost last
  std::string escaped_keys_;        // the decoded keys that held escapes, one after another
  std::vector<std::size_t> order_;  // of the last object ordered: its members' indices in key order
  struct ShortKey {
    std::uint64_t prefix;
    std::size_t length;
  };
  std::vector<ShortKey> last_keys_;  // of the last object ordered, when all are short
  std::string set_aside_;            // members copied out while an object is reordered
  std::size_t objects_open_ = 0;
  PieceSink* sink_ = nullptr;
  std::size_t piece_ = static_cast<std::size_t>(-1);
  bool stopped_ = false;
};

// Reads one value into its compact text as literal content, with `builder`; the input is
// known to be valid. (Here, beside the builder, so that the grammar's loop can take its short
// steps inline.)
void write_literal_value(Cursor& in, LiteralBuilder& builder);

// Whether a float's text is exactly what writing its double gives: plain notation, up to 15
// significant digits, no trailing zero after the point but a lone one.
bool is_written_form(std::string_view float_text);

}  // namespace korvane::json::detail
