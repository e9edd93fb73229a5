// The caller session id, taken from the environment.
#include <cstdlib>

#include "bridge/tool_call.h"
#include "common/utf8.h"

namespace korvane {
namespace {

// True when valid UTF-8 holds nothing but Unicode white space.
bool is_blank(std::string_view valid_utf8) {
  std::size_t pos = 0;
  while (pos < valid_utf8.size()) {
    const Utf8Char next = decode_utf8(valid_utf8, pos);
    if (!is_unicode_white_space(next.code_point)) return false;
    pos += next.length;
  }
  return true;
}

}  // namespace

std::optional<std::string> caller_session_id() {
  const char* value = std::getenv("KORVANE_SESSION_ID");
  if (value == nullptr) return std::nullopt;
  std::string_view id(value);
  if (!is_valid_utf8(id) || is_blank(id)) return std::nullopt;
  return std::string(id);
}

}  // namespace korvane
