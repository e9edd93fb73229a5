// Reading a large text into its literal on two threads. Replies of that size are mostly one
// long array of records: a second thread reads the array's elements from one near the middle
// on, while this one reads from the start. When this reader reaches that very byte as an array
// element, it stops the other at its next element, takes what it read (the elements' text alone
// decides their literal, so that is what it would have written itself) and reads on from where
// the other stopped. When it never gets there (the place was inside a string, say) it reads on
// alone and the other read is dropped. Either way the result is that of one reader alone, byte
// for byte, errors included; the split only decides how much of the work the other thread does.
#pragma once

#include <cstddef>
#include <string_view>

#include "common/byte_buffer.h"
#include "base/outcome.h"

namespace korvane::json::detail {

// Texts from this size on are read on two threads when a place to split them is found.
inline constexpr std::size_t kSplitFrom = std::size_t{1} << 20;

// A likely array element of an array of arrays or objects, soon after the middle: the "{" or
// "[" after a "}," or "]," (whitespace allowed around the comma); npos when there is none.
std::size_t find_split(std::string_view bytes);

// How the second read runs: on its own thread; or first, on this one, stopping after a given
// number of elements (for tests: each way the two reads can meet, without timing).
inline constexpr std::size_t kAllElements = static_cast<std::size_t>(-1);
struct TailRun {
  bool own_thread = true;
  std::size_t elements = kAllElements;
  bool* taken = nullptr;  // set when the first reader took elements the second read
};

// The literal of `bytes` (see read_compact_literal), with elements from `split` on read by the
// second read.
Outcome<ByteBuffer> read_literal_split(std::string_view bytes, std::size_t split, TailRun run);

// The literal of `bytes` read on this thread alone.
Outcome<ByteBuffer> read_literal_alone(std::string_view bytes);

}  // namespace korvane::json::detail
