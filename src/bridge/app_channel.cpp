#include "bridge/app_channel.h"

#include <algorithm>
#include <cerrno>
#include <new>

#include "bridge/loopback_socket.h"
#include "common/posix.h"
#include "common/quote.h"
#include "common/utf8.h"
#include "json/read/reader.h"
#include "json/write/writer.h"

namespace korvane {
namespace {

constexpr std::string_view kHeadEnd = "\r\n\r\n";

// A Content-Length above this sizes nothing: the buffer grows as the reply comes.
constexpr std::size_t kLargestSizedReply = std::size_t{1} << 30;

bool is_content_length(std::string_view line) {
  constexpr std::string_view kName = "content-length:";
  if (line.size() < kName.size()) return false;
  for (std::size_t i = 0; i < kName.size(); ++i) {
    const char c = line[i] >= 'A' && line[i] <= 'Z' ? static_cast<char>(line[i] - 'A' + 'a') : line[i];
    if (c != kName[i]) return false;
  }
  return true;
}

// The size of the whole reply once its head is in, from its Content-Length (the head's size
// alone without one); 0 while the head is still coming. The reply is read to its end all the
// same: this only sizes the buffer.
std::size_t expected_reply_size(std::string_view received) {
  const std::size_t head_end = received.find(kHeadEnd);
  if (head_end == std::string_view::npos) return 0;
  const std::string_view head = received.substr(0, head_end + kHeadEnd.size());
  for (std::size_t start = head.find("\r\n"); start != std::string_view::npos; start = head.find("\r\n", start + 2)) {
    const std::string_view line = head.substr(start + 2);
    if (!is_content_length(line)) continue;
    std::size_t length = 0, at = line.find_first_not_of(" \t", 15);
    for (; at < line.size() && line[at] >= '0' && line[at] <= '9' && length <= kLargestSizedReply; ++at) {
      length = length * 10 + static_cast<std::size_t>(line[at] - '0');
    }
    return length <= kLargestSizedReply ? head.size() + length : head.size();
  }
  return head.size();
}

// Sizes the reply's buffer from its head, and checks the body while the rest arrives.
class ReplyWatcher final : public StreamWatcher {
 public:
  std::size_t expected_size(std::string_view received) override { return expected_reply_size(received); }
  void received(ByteBuffer& reply) override {
    const std::string_view received = reply.view();
    if (body_start_ == 0) {
      const std::size_t head_end = received.find(kHeadEnd);
      if (head_end == std::string_view::npos) return;
      body_start_ = head_end + kHeadEnd.size();
    }
    utf8_.grew(received.substr(body_start_));
    body_check_.grew(reply, body_start_);
  }
  // Whether the whole body is well-formed UTF-8, once the reply is in.
  bool body_is_utf8(std::string_view reply) {
    return body_start_ != 0 && body_start_ <= reply.size() && utf8_.whole(reply.substr(body_start_));
  }
  json::GrowingCheck& body_check() { return body_check_; }

 private:
  std::size_t body_start_ = 0;
  GrowingUtf8Check utf8_;
  json::GrowingCheck body_check_;
};

}  // namespace

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

Outcome<json::CompactLiteral> parse_app_reply(ByteBuffer& reply, bool body_is_utf8, json::GrowingCheck* parts) {
  const std::size_t head_end = reply.view().find(kHeadEnd);
  const std::size_t body_start = head_end == std::string_view::npos ? reply.size() : head_end + kHeadEnd.size();
  auto literal = json::CompactLiteral::read(reply, body_start, body_is_utf8, parts);
  if (literal) return literal;
  const std::string_view body = reply.view().substr(body_start);
  std::string error = "parse: ";
  error += literal.error();
  error += " -- raw=";
  append_quoted(error, body);
  return error_text(std::move(error));
}

Outcome<json::CompactLiteral> parse_app_reply(std::string_view reply) {
  ByteBuffer bytes;
  bytes.append(reply);
  return parse_app_reply(bytes);
}

std::string_view reply_status_line(std::string_view reply) {
  reply = reply.substr(0, std::min(reply.find('\n'), std::size_t{256}));
  if (!reply.empty() && reply.back() == '\r') reply.remove_suffix(1);
  return reply;
}

Outcome<json::CompactLiteral> post_to_app(std::uint16_t port, std::string_view token, const json::Value& body,
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
  std::size_t written = 0;
  if (auto sent = send_all(socket, head, body_bytes, written); !sent) {
    return error_text((written < head.size() ? "write head: " : "write body: ") + sent.error());
  }
  ByteBuffer reply;
  ReplyWatcher watcher;
  const auto received = receive_to_end(socket, reply, &watcher);
  if (facts != nullptr) {
    facts->reply_bytes = reply.view().size();
    facts->status_line = reply_status_line(reply.view());
  }
  if (!received) return error_text("read: " + received.error());
  try {
    return parse_app_reply(reply, watcher.body_is_utf8(reply.view()), &watcher.body_check());
  } catch (const std::bad_alloc&) {  // the reply arrived whole but its relayed form cannot be held
    return error_text("read: " + os_error_text(ENOMEM));
  }
}

}  // namespace korvane
