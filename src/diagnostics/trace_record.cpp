#include "diagnostics/trace_record.h"

#include <time.h>

#include <algorithm>
#include <cstdio>

#include "common/utf8.h"
#include "common/quote.h"
#include "json/writer.h"

namespace korvane::trace {
namespace {

constexpr std::size_t kMaxForms = 16;

std::string escaped_once(std::string_view text) {
  std::string literal;
  json::append_json_string(literal, text);
  return literal.substr(1, literal.size() - 2);
}

std::string quoted_bare(std::string_view text) {
  const std::string literal = quoted_text(text);
  return literal.substr(1, literal.size() - 2);
}

void replace_all(std::string& text, std::string_view form) {
  for (std::size_t at = text.find(form); at != std::string::npos; at = text.find(form, at + kRedacted.size())) {
    text.replace(at, form.size(), kRedacted);
  }
}

// Drops a character that a cut left incomplete at the end.
void drop_partial_tail(std::string& text) {
  std::size_t start = text.size();
  while (start > 0 && text.size() - start < 4 && (static_cast<unsigned char>(text[start - 1]) & 0xC0) == 0x80) --start;
  if (start == 0) return;
  const auto lead = static_cast<unsigned char>(text[start - 1]);
  const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  if (text.size() - (start - 1) < length) text.resize(start - 1);
}

// Text as a JSON string can hold it: bytes that are not UTF-8 are shown quoted instead.
void append_text(std::string& line, std::string_view text) {
  if (is_valid_utf8(text)) {
    json::append_json_string(line, text);
  } else {
    json::append_json_string(line, quoted_text(text));
  }
}

}  // namespace

void Redactor::learn(std::string_view token) {
  if (token.empty()) return;
  const std::string once = escaped_once(token);
  for (const std::string& form : {std::string(token), once, escaped_once(once), quoted_bare(token)}) {
    forms_.erase(std::remove(forms_.begin(), forms_.end(), form), forms_.end());
    forms_.push_back(form);
    longest_ = std::max(longest_, form.size());
  }
  if (forms_.size() > kMaxForms) forms_.erase(forms_.begin(), forms_.end() - kMaxForms);
}

void Redactor::apply(std::string& text) const {
  for (const std::string& form : forms_) replace_all(text, form);
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

TraceRecord::TraceRecord(std::string_view event, std::int64_t unix_microseconds, long pid, const Redactor& redactor)
    : redactor_(redactor) {
  line_ = "{\"time\":\"" + utc_timestamp(unix_microseconds) + "\",\"pid\":" + std::to_string(pid) + ",\"event\":";
  json::append_json_string(line_, event);
}

void TraceRecord::key(std::string_view name) {
  line_ += ',';
  json::append_json_string(line_, name);
  line_ += ':';
}

TraceRecord& TraceRecord::text(std::string_view name, std::string_view value) {
  std::string redacted(value);
  redactor_.apply(redacted);
  key(name);
  append_text(line_, redacted);
  return *this;
}

TraceRecord& TraceRecord::text_or_null(std::string_view name, const std::string* value) {
  return value != nullptr ? text(name, *value) : null(name);
}

TraceRecord& TraceRecord::number(std::string_view name, std::uint64_t value) {
  key(name);
  line_ += std::to_string(value);
  return *this;
}

TraceRecord& TraceRecord::null(std::string_view name) {
  key(name);
  line_ += "null";
  return *this;
}

TraceRecord& TraceRecord::bounded_text(std::string_view value, std::size_t length) {
  // Redacting a little more than the bound first leaves no token cut in half at its end.
  const std::string_view head = value.substr(0, kTextBound + redactor_.longest());
  std::string piece(head);
  redactor_.apply(piece);
  if (head.size() < length || piece.size() > kTextBound) {
    piece.resize(std::min(piece.size(), kTextBound));
    drop_partial_tail(piece);
  }
  number("length", length);
  key("text");
  append_text(line_, piece);
  return *this;
}

std::string TraceRecord::finish() {
  line_ += "}\n";
  return std::move(line_);
}

}  // namespace korvane::trace
