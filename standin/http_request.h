// Reading the head of one HTTP/1.1 request: method, Content-Length and the access token.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "base/outcome.h"

namespace korvane::standin {

inline constexpr std::string_view kHeadEnd = "\r\n\r\n";

struct RequestHead {
  std::string method;
  std::size_t content_length = 0;
  std::optional<std::string> token;
};

// Parses a head that ends with CR LF CR LF. Header names match case-insensitively, values
// lose surrounding blanks; the first X-Korvane-Token counts. A missing Content-Length means
// an empty body.
Outcome<RequestHead> parse_request_head(std::string_view head);

}  // namespace korvane::standin
