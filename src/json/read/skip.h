// Values nobody keeps: read by the grammar with a builder that keeps nothing. Skipping is what
// the members of a record that fill no field get: it has no depth limit, computes no number
// and decodes no string (so "1e400" and lone surrogate escapes pass), and has some reason texts
// of its own ("expected value" and "key must be a string" after a ","). Checking is the strict
// reading of a value, depth limit included, for a value kept only as its text.
#pragma once

#include <cstddef>

#include "json/read/cursor.h"
#include "json/read/grammar.h"
#include "json/read/number.h"
#include "json/read/scalars.h"

namespace korvane::json::detail {

template <bool kSkip>
struct Discarding {
  static constexpr bool kSkipping = kSkip;
  void null_value() {}
  void boolean(bool) {}
  void number(const Number&) {}
  NoText& value_text() { return nothing; }
  void string(const StringRead&) {}
  NoText& key_text() { return nothing; }
  void key(const StringRead&) {}
  void begin_array() {}
  void end_array() {}
  void begin_object() {}
  void end_object() {}
  NoText nothing;
};

// Scans one value for its form only.
inline bool skip_value(Cursor& in) {
  Discarding<true> skipping;
  return read_json(in, skipping, 0);
}

// Reads one value as strictly as building it would, keeping nothing.
inline bool check_value(Cursor& in, std::size_t max_depth) {
  Discarding<false> checking;
  return read_json(in, checking, max_depth);
}

}  // namespace korvane::json::detail
