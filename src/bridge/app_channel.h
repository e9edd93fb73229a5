// One HTTP/1.1 exchange with the desktop app on 127.0.0.1.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/outcome.h"
#include "common/byte_buffer.h"
#include "json/relay/compact_literal.h"
#include "json/shared/value.h"

namespace korvane {

// The request head sent before a body of body_length bytes.
std::string app_request_head(std::uint16_t port, std::string_view token, std::size_t body_length);

// Cuts the HTTP head off a whole reply and reads the body as one JSON text, to be written in
// compact form (sorted keys, as the JSON writer writes values) as a JSON string literal; on
// failure "parse: <reason> -- raw=<quoted body>". Takes the reply over when it reads.
// `body_is_utf8`: the body is known to be well-formed UTF-8, checked as it arrived; `parts`: the
// check that read the body as it arrived, if any.
Outcome<json::CompactLiteral> parse_app_reply(ByteBuffer& reply, bool body_is_utf8 = false,
                                              json::GrowingCheck* parts = nullptr);
Outcome<json::CompactLiteral> parse_app_reply(std::string_view reply);

// The first line of a reply without its line break, at most 256 bytes of it.
std::string_view reply_status_line(std::string_view reply);

// What one exchange sent and got back, for the trace.
struct ExchangeFacts {
  std::size_t request_bytes = 0;  // head and body
  std::size_t reply_bytes = 0;
  std::string status_line;  // as reply_status_line gives it
};

// Posts the body to the app and returns its reply as parse_app_reply gives it (ready to be the
// text of a tool result), or "connect: ...", "write head: ...", "write body: ...", "read: ..."
// or "parse: ... -- raw=...". Fills facts, when given, as far as the exchange got.
Outcome<json::CompactLiteral> post_to_app(std::uint16_t port, std::string_view token, const json::Value& body,
                                          ExchangeFacts* facts = nullptr);

}  // namespace korvane
