#include "http_request.h"

#include <charconv>

namespace korvane::standin {
namespace {

bool same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string_view trim_blanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::optional<std::size_t> parse_length(std::string_view text) {
  std::size_t length = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), length);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return length;
}

}  // namespace

Outcome<RequestHead> parse_request_head(std::string_view head) {
  if (!head.ends_with(kHeadEnd)) return error_text("request head does not end with an empty line");
  head.remove_suffix(2);
  RequestHead parsed;
  const std::size_t line_end = head.find("\r\n");
  const std::string_view request_line = head.substr(0, line_end);
  const std::size_t method_end = request_line.find(' ');
  if (method_end == 0 || method_end == std::string_view::npos) return error_text("malformed request line");
  parsed.method = std::string(request_line.substr(0, method_end));

  bool seen_length = false;
  for (std::size_t start = line_end + 2; start < head.size();) {
    const std::size_t end = head.find("\r\n", start);
    const std::string_view line = head.substr(start, end - start);
    start = end + 2;
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return error_text("malformed header line");
    const std::string_view name = line.substr(0, colon);
    const std::string_view value = trim_blanks(line.substr(colon + 1));
    if (same_name(name, "Content-Length")) {
      const auto length = parse_length(value);
      if (!length || (seen_length && *length != parsed.content_length)) return error_text("invalid Content-Length");
      parsed.content_length = *length;
      seen_length = true;
    } else if (same_name(name, "X-Korvane-Token") && !parsed.token) {
      parsed.token = std::string(value);
    }
  }
  return parsed;
}

}  // namespace korvane::standin
