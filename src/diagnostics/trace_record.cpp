#include "diagnostics/trace_record.h"

#include <time.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>

#include "common/quote.h"
#include "common/utf8.h"
#include "json/write/writer.h"

namespace korvane::trace {
namespace {

// Tokens kept, most recent last: the app may write a new one while the server runs.
constexpr std::size_t kMaxTokens = 4;

// The length of the text's start that holds at most `bound` bytes and no character in part.
std::size_t whole_characters(std::string_view text, std::size_t bound) {
  if (text.size() <= bound) return text.size();
  std::size_t end = bound;
  for (int back = 0; back < 3 && end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80; ++back) --end;
  return (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80 ? bound : end;
}

// Appends the text as a JSON string, as json::append_json_string does, into room for the
// longest escaping, trimmed after: the trace escapes every line the server reads and writes,
// and response lines are dense with quotation marks.
void append_escaped_string(std::string& out, std::string_view text) {
  const std::size_t start = out.size();
  out.resize(start + 6 * text.size() + 2);
  char* at = out.data() + start;
  *at++ = '"';
  for (const char c : text) {
    if (!json::is_special(c)) {
      *at++ = c;
    } else if (c == '"' || c == '\\') {
      *at++ = '\\';
      *at++ = c;
    } else {
      char buffer[6];
      const std::string_view escape = json::escape_of(c, buffer);
      at = std::copy(escape.begin(), escape.end(), at);
    }
  }
  *at++ = '"';
  out.resize(static_cast<std::size_t>(at - out.data()));
}

template <typename Integer>
void append_integer(std::string& out, Integer value) {
  char digits[24];
  out.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

// Text as a JSON string can hold it: bytes that are not UTF-8 are shown quoted instead.
void append_text(std::string& line, std::string_view text) {
  if (is_valid_utf8(text)) {
    append_escaped_string(line, text);
  } else {
    append_escaped_string(line, quoted_text(text));
  }
}

}  // namespace

void Redactor::learn(std::string_view token) {
  if (token.empty()) return;
  std::erase_if(tokens_, [&](const TokenSpelling& known) { return known.token() == token; });
  tokens_.emplace_back(token);
  if (tokens_.size() > kMaxTokens) tokens_.erase(tokens_.begin());
  longest_ = 0;
  for (const TokenSpelling& known : tokens_) longest_ = std::max(longest_, known.longest());
}

std::size_t Redactor::start_for(std::size_t bound) const { return 2 * bound + longest_ + 4; }

std::string_view Redactor::redact(std::string_view text, std::size_t bound, std::string& scratch, bool whole) const {
  std::size_t shown_end = text.size();
  if (!whole) {
    shown_end -= std::min(shown_end, longest_);
    for (int back = 0; back < 3 && shown_end > 0 && shown_end < text.size() &&
                       (static_cast<unsigned char>(text[shown_end]) & 0xC0) == 0x80;
         ++back)
      --shown_end;
  }
  std::array<TokenSpelling::Found, kMaxTokens> next{};
  for (std::size_t index = 0; index < tokens_.size(); ++index) next[index] = tokens_[index].find(text, 0, shown_end);
  std::size_t pos = 0;
  bool replaced = false;
  for (;;) {
    std::size_t first = tokens_.size();  // the token found first, the longer spelling at the same place
    for (std::size_t index = 0; index < tokens_.size(); ++index) {
      TokenSpelling::Found& found = next[index];
      if (found.at != std::string_view::npos && found.at < pos) found = tokens_[index].find(text, pos, shown_end);
      if (found.at == std::string_view::npos) continue;
      if (first == tokens_.size() || found.at < next[first].at ||
          (found.at == next[first].at && found.size > next[first].size)) {
        first = index;
      }
    }
    if (first == tokens_.size() || (!replaced && next[first].at >= bound)) break;
    if (!replaced) scratch.clear();
    replaced = true;
    const std::size_t at = next[first].at;
    scratch.append(text.substr(pos, std::min(at - pos, bound - std::min(bound, scratch.size()))));
    if (scratch.size() >= bound) break;
    scratch += kRedacted;
    pos = at + next[first].size;
  }
  if (!replaced) {
    const std::string_view shown = text.substr(0, shown_end);
    return shown.substr(0, whole_characters(shown, bound));
  }
  if (scratch.size() < bound)
    scratch.append(text.substr(pos, std::min(shown_end - std::min(pos, shown_end), bound - scratch.size())));
  scratch.resize(whole_characters(scratch, bound));
  return scratch;
}

std::string utc_timestamp(std::int64_t unix_microseconds) {
  const time_t seconds = static_cast<time_t>(unix_microseconds / 1'000'000);
  struct tm parts {};
  gmtime_r(&seconds, &parts);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06dZ", parts.tm_year + 1900, parts.tm_mon + 1,
                parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                static_cast<int>(unix_microseconds % 1'000'000));
  return text;
}

TraceRecord::TraceRecord(std::string& out, std::string_view time, long pid, std::string_view event,
                         const Redactor& redactor)
    : out_(out), redactor_(redactor) {
  out_ += "{\"time\":\"";
  out_ += time;
  out_ += "\",\"pid\":";
  append_integer(out_, pid);
  out_ += ",\"event\":\"";
  out_ += event;
  out_ += '"';
}

void TraceRecord::key(std::string_view name) {
  out_ += ",\"";
  out_ += name;
  out_ += "\":";
}

TraceRecord& TraceRecord::text(std::string_view name, std::string_view value) {
  const std::size_t start = redactor_.start_for(kTextBound);
  return text_start(name, value.substr(0, start), value.size() <= start);
}

TraceRecord& TraceRecord::text_start(std::string_view name, std::string_view start, bool whole) {
  key(name);
  append_text(out_, redactor_.redact(start, kTextBound, scratch_, whole));
  return *this;
}

TraceRecord& TraceRecord::text_or_null(std::string_view name, const std::string* value) {
  return value != nullptr ? text(name, *value) : null(name);
}

TraceRecord& TraceRecord::number(std::string_view name, std::uint64_t value) {
  key(name);
  append_integer(out_, value);
  return *this;
}

TraceRecord& TraceRecord::null(std::string_view name) {
  key(name);
  out_ += "null";
  return *this;
}

TraceRecord& TraceRecord::bounded_text(std::string_view start, std::size_t size) {
  number("length", size);
  return text_start("text", start, start.size() >= size);
}

void TraceRecord::finish() { out_ += "}\n"; }

}  // namespace korvane::trace
