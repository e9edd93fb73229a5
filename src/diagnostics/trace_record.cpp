#include "diagnostics/trace_record.h"

#include <time.h>

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "common/quote.h"
#include "common/utf8.h"
#include "json/escape.h"
#include "json/writer.h"

namespace korvane::trace {
namespace {

// Tokens kept, most recent last: the app may write a new one while the server runs.
constexpr std::size_t kMaxTokens = 4;

// Forms nested at most this deep: a token escaped in a reply, quoted in an error text, escaped
// again in a response line.
constexpr int kFormDepth = 3;

std::string escaped(std::string_view text) {
  std::string literal;
  json::append_json_string(literal, text);
  return literal.substr(1, literal.size() - 2);
}

// Escaped as writers that keep to ASCII escape it: every non-ASCII character as \uXXXX.
std::string escaped_ascii(std::string_view text) {
  std::string out;
  std::size_t run = 0;  // text[run, at) is ASCII still to escape
  for (std::size_t at = 0; at < text.size();) {
    if (static_cast<unsigned char>(text[at]) < 0x80) {
      ++at;
      continue;
    }
    out += escaped(text.substr(run, at - run));
    const Utf8Char decoded = decode_utf8(text, at);
    char32_t code_point = decoded.valid ? decoded.code_point : U'\uFFFD';
    const auto append_unit = [&out](char32_t unit) {
      constexpr char kHex[] = "0123456789abcdef";
      out += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(unit >> shift) & 0xF];
    };
    if (code_point >= 0x10000) {
      code_point -= 0x10000;
      append_unit(0xD800 + (code_point >> 10));
      append_unit(0xDC00 + (code_point & 0x3FF));
    } else {
      append_unit(code_point);
    }
    at += decoded.length;
    run = at;
  }
  return out + escaped(text.substr(run));
}

std::string quoted_bare(std::string_view text) {
  const std::string literal = quoted_text(text);
  return literal.substr(1, literal.size() - 2);
}

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
  std::vector<std::string> forms{std::string(token)};
  std::size_t level_start = 0;
  for (int depth = 0; depth < kFormDepth; ++depth) {
    const std::size_t level_end = forms.size();
    for (std::size_t at = level_start; at < level_end; ++at) {
      for (std::string form : {escaped(forms[at]), escaped_ascii(forms[at]), quoted_bare(forms[at])}) {
        if (std::find(forms.begin(), forms.end(), form) == forms.end()) forms.push_back(std::move(form));
      }
    }
    level_start = level_end;
  }
  std::erase_if(tokens_, [&](const std::vector<std::string>& known) { return known.front() == token; });
  tokens_.push_back(std::move(forms));
  if (tokens_.size() > kMaxTokens) tokens_.erase(tokens_.begin());
  forms_.clear();
  longest_ = 0;
  for (const auto& known : tokens_) {
    for (const std::string& form : known) {
      forms_.push_back(form);
      longest_ = std::max(longest_, form.size());
    }
  }
  next_.resize(forms_.size());
}

std::size_t Redactor::start_for(std::size_t bound) const {
  // Each form read gives kRedacted: the output reaches `bound` before more than this much
  // input is read, and a form that starts inside it ends at most longest_ bytes later. The
  // bytes of one character more tell whether the cut splits one.
  const std::size_t shrink = (longest_ + kRedacted.size() - 1) / kRedacted.size();
  return bound * std::max<std::size_t>(shrink, 1) + longest_ + 4;
}

std::string_view Redactor::redact(std::string_view text, std::size_t bound, std::string& scratch) const {
  for (std::size_t form = 0; form < forms_.size(); ++form) next_[form] = text.find(forms_[form]);
  std::size_t pos = 0;
  bool replaced = false;
  while (!replaced || scratch.size() < bound) {
    std::size_t first = forms_.size();  // the form found first, the longer at the same place
    for (std::size_t form = 0; form < forms_.size(); ++form) {
      std::size_t& at = next_[form];
      if (at != std::string_view::npos && at < pos) at = text.find(forms_[form], pos);
      if (at == std::string_view::npos) continue;
      if (first == forms_.size() || at < next_[first] ||
          (at == next_[first] && forms_[form].size() > forms_[first].size())) {
        first = form;
      }
    }
    if (first == forms_.size() || (!replaced && next_[first] >= bound)) break;
    if (!replaced) scratch.clear();
    replaced = true;
    const std::size_t at = next_[first];
    scratch.append(text.substr(pos, std::min(at - pos, bound - std::min(bound, scratch.size()))));
    if (scratch.size() >= bound) break;
    scratch += kRedacted;
    pos = at + forms_[first].size();
  }
  if (!replaced) return text.substr(0, whole_characters(text, bound));
  if (scratch.size() < bound) scratch.append(text.substr(pos, bound - scratch.size()));
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
  key(name);
  append_text(out_, redactor_.redact(value.substr(0, redactor_.start_for(kTextBound)), kTextBound, scratch_));
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
  return text("text", start);
}

void TraceRecord::finish() { out_ += "}\n"; }

}  // namespace korvane::trace
