// Building trace records: one JSON object per line, members in the order they are added,
// every text passed through the redactor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvane::trace {

// A text field holds at most this many bytes of what it records (cut at a character boundary).
inline constexpr std::size_t kTextBound = 64 * 1024;

inline constexpr std::string_view kRedacted = "<redacted>";

// Replaces every known token, in each form it can take in recorded text (as it is, escaped
// once or twice as a JSON string, and quoted as error texts quote reply bytes).
class Redactor {
 public:
  void learn(std::string_view token);  // an empty token is nothing to hide
  void apply(std::string& text) const;
  std::size_t longest() const { return longest_; }

 private:
  std::vector<std::string> forms_;  // most recently learnt last
  std::size_t longest_ = 0;
};

class TraceRecord {
 public:
  // {"time":"<UTC, microseconds>","pid":<pid>,"event":"<event>"
  TraceRecord(std::string_view event, std::int64_t unix_microseconds, long pid, const Redactor& redactor);

  TraceRecord& text(std::string_view name, std::string_view value);
  TraceRecord& text_or_null(std::string_view name, const std::string* value);
  TraceRecord& number(std::string_view name, std::uint64_t value);
  TraceRecord& null(std::string_view name);
  // "length": the full size, and "text": its first kTextBound bytes.
  TraceRecord& bounded_text(std::string_view value) { return bounded_text(value, value.size()); }
  // The same for a value of `length` bytes of which `head` are the first.
  TraceRecord& bounded_text(std::string_view head, std::size_t length);

  // The record's line, ending in "\n".
  std::string finish();

 private:
  void key(std::string_view name);

  const Redactor& redactor_;
  std::string line_;
};

// "2025-01-31T23:59:59.123456Z"
std::string utc_timestamp(std::int64_t unix_microseconds);

}  // namespace korvane::trace
