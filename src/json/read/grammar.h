// The JSON grammar, read iteratively with an explicit stack of open arrays and objects and
// handed to a builder as it goes. A builder says what it wants:
//
//   static constexpr bool kSkipping;  // only check the form: no depth limit, no values, and
//                                     // the scanner's own reason texts
//   void null_value(); void boolean(bool); void number(const Number&);
//   Sink& value_text(); void string(const StringRead&);  // a sink (scalars.h) for a string
//   Sink& key_text(); void key(const StringRead&);       // value's text, and for a key's
//   void begin_array(); void end_array(); void begin_object(); void end_object();
//
// and, for a strict read that keeps no number, `static constexpr bool kOnlyChecking = true;`:
// its numbers' values are not worked out. The tree (tree_builder.h), the relay's exact reading
// of an outline (relay/outline.cpp), and the check and the skipping of values nobody keeps
// (skip.h) are all builders of this one grammar.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "json/read/cursor.h"
#include "json/read/number.h"
#include "json/read/reasons.h"
#include "json/read/scalars.h"
#include "json/shared/known_key.h"

namespace korvane::json::detail {

// Arrays and objects may nest this deep in a value read on its own.
inline constexpr std::size_t kMaxDepth = 127;

// The colon after a key.
inline bool read_colon(Cursor& in) {
  const int c = in.skip_whitespace();
  if (c != ':') return in.peek_error(c < 0 ? reason::kEofInObject : reason::kExpectedColon);
  in.advance();
  return true;
}

// The keys of the object read before, by place (see KnownKey): a key at its place whose bytes
// are those of the plain key there, followed by a quote, is that key again and needs no
// scanning. Keys with escapes are not kept (their text is handed on as decoded).
class KeyMemory {
 public:
  void begin_object() {
    index_ = 0;
    count_ = 0;
    recording_ = true;
  }
  void end_object() {
    if (recording_) {
      std::copy_n(current_.begin(), count_, previous_.begin());
      previous_count_ = count_;
    }
    recording_ = false;
  }
  // The length of the remembered key at the cursor with its closing quote, or 0.
  std::size_t match(const Cursor& in) const {
    if (index_ >= previous_count_) return 0;
    const KnownKey& known = previous_[index_];
    return known.matches(in.data() + in.pos(), in.size() - in.pos()) ? known.size() + 1 : 0;
  }
  void note(const StringRead& key) {
    if (recording_ && count_ < kKeys) current_[count_++] = key.escaped ? KnownKey{} : KnownKey(key.raw, key.readable);
    ++index_;
  }

 private:
  static constexpr std::size_t kKeys = 16;
  std::array<KnownKey, kKeys> previous_, current_;  // counts tell which hold a key
  std::size_t previous_count_ = 0, count_ = 0, index_ = 0;
  bool recording_ = false;
};

// A key and its colon, at the byte where the key should start.
template <typename Builder>
[[gnu::always_inline]] inline bool read_key(Cursor& in, Builder& builder, KeyMemory& memory) {
  if (in.peek() != '"') return in.peek_error(reason::kKeyMustBeString);
  in.advance();
  StringRead key;
  auto& text = builder.key_text();
  if (const std::size_t known = memory.match(in); known != 0) {
    key.raw = std::string_view(in.data() + in.pos(), known - 1);
    key.readable = in.size() - in.pos();
    text.run(key.raw, true);
    in.advance(known);
  } else if (!read_string<Builder::kSkipping>(in, key, text)) {
    return false;
  }
  memory.note(key);
  if (!read_colon(in)) return false;
  builder.key(key);
  return true;
}

// After a "," in an object: the next key. The scanner reports what follows differently.
template <typename Builder>
bool read_next_key(Cursor& in, Builder& builder, KeyMemory& memory) {
  const int c = in.skip_whitespace();
  if (c == '"') return read_key(in, builder, memory);
  if constexpr (Builder::kSkipping) return in.peek_error(c < 0 ? reason::kEofInObject : reason::kKeyMustBeString);
  if (c == '}') return in.peek_error(reason::kTrailingComma);
  return in.peek_error(c < 0 ? reason::kEofInValue : reason::kKeyMustBeString);
}

// What the start of a value was: a scalar (or an empty container), an open container, or a failure.
enum class Opened { kFailed, kScalar, kContainer };
inline Opened failed(bool) { return Opened::kFailed; }  // takes an error's false

// A literal, number or string at the cursor, whose first byte is c.
template <typename Builder>
[[gnu::always_inline]] inline bool read_scalar(Cursor& in, Builder& builder, int c) {
  switch (c) {
    case 'n':
      in.advance();
      if (!read_ident(in, "ull")) return false;
      builder.null_value();
      return true;
    case 't':
    case 'f':
      in.advance();
      if (!read_ident(in, c == 't' ? "rue" : "alse")) return false;
      builder.boolean(c == 't');
      return true;
    case '"': {
      in.advance();
      StringRead text;
      if (!read_string<Builder::kSkipping>(in, text, builder.value_text())) return false;
      builder.string(text);
      return true;
    }
    default: break;  // a number: the caller knows c starts one
  }
  Number number;
  if constexpr (requires { Builder::kOnlyChecking; }) {
    if (!check_number(in)) return false;
  } else if (!read_number<Builder::kSkipping>(in, number)) {
    return false;
  }
  builder.number(number);
  return true;
}

// The opening of an array or object at the cursor, and its first member's key; whether a value
// follows (or the container is empty and left for the caller to close).
template <typename Builder>
[[gnu::always_inline]] inline Opened open_container(Cursor& in, Builder& builder, KeyMemory& memory, std::string& open,
                                                    std::size_t max_depth, int c) {
  if (!Builder::kSkipping && open.size() >= max_depth) return failed(in.peek_error(reason::kRecursionLimit));
  in.advance();
  open.push_back(static_cast<char>(c));
  const int next = in.skip_whitespace();
  if (c == '[') {
    builder.begin_array();
    if (next < 0) return failed(in.peek_error(reason::kEofInList));
    return next != ']' ? Opened::kContainer : Opened::kScalar;  // the first element, or empty
  }
  builder.begin_object();
  memory.begin_object();
  if (next < 0) return failed(in.peek_error(reason::kEofInObject));
  if (next == '}') return Opened::kScalar;  // empty
  return read_key(in, builder, memory) ? Opened::kContainer : Opened::kFailed;
}

// A scalar at the cursor, or the opening of an array or object and its first member's key; the
// result tells which (an empty container counts as a scalar: the caller closes it), or that
// reading failed.
template <typename Builder>
[[gnu::always_inline]] inline Opened read_value_start(Cursor& in, Builder& builder, KeyMemory& memory,
                                                      std::string& open, std::size_t max_depth, int c) {
  if (c == '[' || c == '{') return open_container(in, builder, memory, open, max_depth, c);
  if (c < 0 || !kStartsScalar[static_cast<unsigned char>(c)]) {
    return failed(in.peek_error(c < 0 ? reason::kEofInValue : reason::kExpectedValue));
  }
  return read_scalar(in, builder, c) ? Opened::kScalar : Opened::kFailed;
}

// Reads one value. `max_depth` is how many levels of arrays and objects it may open (the
// skipping builder has no limit).
template <typename Builder>
bool read_json(Cursor& in, Builder& builder, std::size_t max_depth) {
  std::string open;  // '[' or '{' for every open container
  KeyMemory memory;
  for (;;) {
    const int c = in.skip_whitespace();
    const Opened opened = read_value_start(in, builder, memory, open, max_depth, c);
    if (opened == Opened::kFailed) return false;
    if (opened == Opened::kContainer) continue;
    // After a value: close what ends here, then move to the next element or member.
    for (;;) {
      if (open.empty()) return true;
      const bool in_array = open.back() == '[';
      const int next = in.skip_whitespace();
      if (next == (in_array ? ']' : '}')) {
        in.advance();
        open.pop_back();
        if (in_array) {
          builder.end_array();
        } else {
          builder.end_object();
          memory.end_object();
        }
        continue;
      }
      if (next == ',') {
        in.advance();
        if (!in_array) {
          if (!read_next_key(in, builder, memory)) return false;
        } else if (!Builder::kSkipping && in.skip_whitespace() == ']') {
          return in.peek_error(reason::kTrailingComma);  // the scanner finds no value there instead
        }
        break;
      }
      if (next < 0) return in.peek_error(in_array ? reason::kEofInList : reason::kEofInObject);
      return in.peek_error(in_array ? reason::kExpectedListGoesOn : reason::kExpectedObjectGoesOn);
    }
  }
}

// One value with whitespace around it and nothing else.
template <typename Builder>
bool read_whole(Cursor& in, Builder& builder) {
  if (!read_json(in, builder, kMaxDepth)) return false;
  return in.skip_whitespace() < 0 || in.peek_error(reason::kTrailingCharacters);
}

}  // namespace korvane::json::detail
