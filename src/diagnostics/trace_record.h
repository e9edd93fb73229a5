// Building trace records: one JSON object per line, members in the order they are added,
// every text redacted first and then cut to its bound.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/token_spelling.h"

namespace korvane::trace {

// A text field holds at most this many bytes of what it records (cut at a character boundary).
inline constexpr std::size_t kTextBound = 64 * 1024;

inline constexpr std::string_view kRedacted = "<redacted>";

// Replaces every known token wherever recorded text spells it, in any way JSON or an error
// text's quoting can write it, also written again inside such a text (see TokenSpelling).
class Redactor {
 public:
  Redactor() = default;

  void learn(std::string_view token);  // an empty token is nothing to hide

  // The first `bound` bytes (cut at a character boundary) of the text with every spelling
  // replaced: what redacting the whole text and then cutting it gives. Given only the start of
  // a longer text (`whole` false), nothing is shown from where a spelling that starts there
  // could run on past its end, so the result may be shorter; a start of start_for(bound) bytes
  // gives all `bound` bytes unless spellings fill most of it. The result views the text itself
  // when nothing was replaced, else `scratch`.
  std::string_view redact(std::string_view text, std::size_t bound, std::string& scratch, bool whole = true) const;

  // How much of a text's start decides its first `bound` bytes once redacted.
  std::size_t start_for(std::size_t bound) const;

 private:
  std::vector<TokenSpelling> tokens_;  // most recent last
  std::size_t longest_ = 0;            // the longest spelling of any of them
};

// "2025-01-31T23:59:59.123456Z"
std::string utc_timestamp(std::int64_t unix_microseconds);

// Appends one record to `out`. A record that throws half-built is the caller's to take back.
class TraceRecord {
 public:
  // {"time":"<time>","pid":<pid>,"event":"<event>". Event and member names are plain ASCII
  // names, written as they are.
  TraceRecord(std::string& out, std::string_view time, long pid, std::string_view event, const Redactor& redactor);

  TraceRecord& text(std::string_view name, std::string_view value);  // at most kTextBound bytes of it
  TraceRecord& text_or_null(std::string_view name, const std::string* value);
  TraceRecord& number(std::string_view name, std::uint64_t value);
  TraceRecord& null(std::string_view name);
  // "length": `size`, and "text": the first kTextBound bytes of a text of that size, of which
  // `start` holds the first bytes (at least the redactor's start_for(kTextBound), or all).
  TraceRecord& bounded_text(std::string_view start, std::size_t size);

  // Ends the record with "}\n".
  void finish();

 private:
  void key(std::string_view name);
  TraceRecord& text_start(std::string_view name, std::string_view start, bool whole);

  std::string& out_;
  const Redactor& redactor_;
  std::string scratch_;
};

}  // namespace korvane::trace
