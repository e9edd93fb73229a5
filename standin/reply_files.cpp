#include "reply_files.h"

#include "common/hex.h"
#include "json/shared/value.h"

namespace korvane::standin {
namespace {

Outcome<std::string> decode_line(std::string_view line) {
  if (!line.starts_with('{')) return decode_hex(line);
  const json::Value entry = json::Value::parse(line, nullptr, false);
  if (entry.is_discarded() || !entry.is_object()) return error_text("not a JSON object");
  const auto hex = entry.find("body_hex");
  if (hex == entry.end() || !hex->is_string()) return error_text("no \"body_hex\" string");
  return decode_hex(hex->get<std::string>());
}

}  // namespace

Outcome<std::vector<std::string>> parse_reply_bodies(std::string_view text) {
  std::vector<std::string> bodies;
  std::size_t line_number = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    ++line_number;
    auto body = decode_line(line);
    if (!body) return error_text("line " + std::to_string(line_number) + ": " + body.error());
    bodies.push_back(std::move(body).value());
  }
  return bodies;
}

}  // namespace korvane::standin
