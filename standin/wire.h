// Bytes that go out: compact JSON, HTTP reply heads, whole writes to files.
#pragma once

#include <string>
#include <string_view>

#include "json/shared/value.h"

namespace korvane::standin {

// Compact JSON text; invalid UTF-8 inside strings becomes U+FFFD instead of failing.
std::string compact_json(const json::Value& value);

// "HTTP/1.1 <status> <reason>\r\n" and the usual headers for a JSON body of body_length bytes,
// ending with the blank line.
std::string reply_head(int status, std::size_t body_length);

// The reply head followed by the body.
std::string http_reply(int status, std::string_view body);

}  // namespace korvane::standin
