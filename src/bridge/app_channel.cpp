#include "bridge/app_channel.h"

#include <algorithm>
#include <cerrno>
#include <new>

#include "bridge/loopback_socket.h"
#include "common/posix.h"
#include "json/quote.h"
#include "json/reader.h"
#include "json/writer.h"

namespace korvane {

std::string app_request_head(std::uint16_t port, std::string_view token, std::size_t body_length) {
  std::string head;
  head.reserve(160 + token.size());
  head += "POST / HTTP/1.1\r\nHost: 127.0.0.1:";
  head += std::to_string(port);
  head += "\r\nX-Korvane-Token: ";
  head += token;
  head += "\r\nContent-Type: application/json\r\nContent-Length: ";
  head += std::to_string(body_length);
  head += "\r\nConnection: close\r\n\r\n";
  return head;
}

Outcome<std::string> parse_app_reply(std::string_view reply) {
  constexpr std::string_view kHeadEnd = "\r\n\r\n";
  const std::size_t head_end = reply.find(kHeadEnd);
  const std::string_view body =
      head_end == std::string_view::npos ? std::string_view() : reply.substr(head_end + kHeadEnd.size());
  auto literal = json::read_compact_as_string(body);
  if (literal) return literal;
  std::string error = "parse: ";
  error += literal.error();
  error += " -- raw=";
  json::append_quoted(error, body);
  return error_text(std::move(error));
}

std::string_view reply_status_line(std::string_view reply) {
  reply = reply.substr(0, std::min(reply.find('\n'), std::size_t{256}));
  if (!reply.empty() && reply.back() == '\r') reply.remove_suffix(1);
  return reply;
}

Outcome<std::string> post_to_app(std::uint16_t port, std::string_view token, const json::Value& body,
                                 ExchangeFacts* facts) {
  auto connection = connect_loopback(port);
  if (!connection) return error_text("connect: " + connection.error());
  const UniqueFd& socket = connection.value();
  std::string body_bytes;
  try {
    body_bytes = json::to_json(body);
  } catch (const std::bad_alloc&) {
    return error_text("write body: " + os_error_text(ENOMEM));
  }
  const std::string head = app_request_head(port, token, body_bytes.size());
  if (facts != nullptr) facts->request_bytes = head.size() + body_bytes.size();
  if (auto sent = send_all(socket, head); !sent) return error_text("write head: " + sent.error());
  if (auto sent = send_all(socket, body_bytes); !sent) return error_text("write body: " + sent.error());
  ByteBuffer reply;
  const auto received = receive_to_end(socket, reply);
  if (facts != nullptr) {
    facts->reply_bytes = reply.view().size();
    facts->status_line = reply_status_line(reply.view());
  }
  if (!received) return error_text("read: " + received.error());
  try {
    return parse_app_reply(reply.view());
  } catch (const std::bad_alloc&) {  // the reply arrived whole but its relayed form cannot be held
    return error_text("read: " + os_error_text(ENOMEM));
  }
}

}  // namespace korvane
