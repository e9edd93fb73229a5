#include "bridge/app_channel.h"

#include "bridge/loopback_socket.h"
#include "common/quote.h"
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

Outcome<ByteBuffer> parse_app_reply(std::string_view reply) {
  constexpr std::string_view kHeadEnd = "\r\n\r\n";
  const std::size_t head_end = reply.find(kHeadEnd);
  const std::string_view body =
      head_end == std::string_view::npos ? std::string_view() : reply.substr(head_end + kHeadEnd.size());
  auto literal = json::read_compact_literal(body);
  if (literal) return literal;
  std::string error = "parse: ";
  error += literal.error();
  error += " -- raw=";
  append_quoted(error, body);
  return error_text(std::move(error));
}

Outcome<ByteBuffer> post_to_app(std::uint16_t port, std::string_view token, const json::Value& body) {
  auto connection = connect_loopback(port);
  if (!connection) return error_text("connect: " + connection.error());
  const UniqueFd& socket = connection.value();
  const std::string body_bytes = json::to_json(body);
  if (auto failure = send_all(socket, app_request_head(port, token, body_bytes.size()))) {
    return error_text("write head: " + *failure);
  }
  if (auto failure = send_all(socket, body_bytes)) return error_text("write body: " + *failure);
  ByteBuffer reply;
  if (auto failure = receive_to_end(socket, reply)) return error_text("read: " + *failure);
  return parse_app_reply(reply.view());
}

}  // namespace korvane
