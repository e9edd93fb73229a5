#include "app_server.h"

#include <sys/socket.h>

#include <exception>
#include <string_view>

#include "common/posix.h"
#include "params.h"
#include "wire.h"

namespace korvane::standin {
namespace {

constexpr std::size_t kMaxHeadBytes = 64 * 1024;
constexpr std::size_t kMaxBodyBytes = 64 * 1024 * 1024;

ReceivedRequest rejected(std::string head, int status, std::string reason) {
  ReceivedRequest request;
  request.head = std::move(head);
  request.reject_status = status;
  request.reject_reason = std::move(reason);
  return request;
}

std::string chunked_reply(std::string_view body) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string size;
  for (std::size_t n = body.size(); size.empty() || n != 0; n /= 16) size.insert(size.begin(), kDigits[n % 16]);
  std::string reply =
      "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nTransfer-Encoding: chunked\r\n"
      "Connection: close\r\n\r\n";
  reply += size + "\r\n";
  reply += body;
  reply += "\r\n0\r\n\r\n";
  return reply;
}

}  // namespace

AppServer::AppServer(Options options, ServerSetup setup, int stop_fd)
    : options_(std::move(options)), setup_(std::move(setup)), stop_fd_(stop_fd) {}

void AppServer::serve(UniqueFd connection) {
  Peer peer(std::move(connection), stop_fd_);
  if (options_.mode == Mode::close_before_read) return;
  const std::optional<ReceivedRequest> request = receive(peer);
  if (!request) return;
  record(*request);
  switch (options_.mode) {
    case Mode::close_after_read: return;
    case Mode::reset: return peer.reset();
    case Mode::hang: (void)peer.pause(std::chrono::milliseconds(-1)); return;
    default: return reply(peer, *request);
  }
}

std::optional<ReceivedRequest> AppServer::receive(Peer& peer) const {
  std::string buffer;
  std::size_t head_end = std::string::npos;
  for (std::size_t scanned = 0; head_end == std::string::npos; head_end = buffer.find(kHeadEnd, scanned)) {
    if (buffer.size() > kMaxHeadBytes) return rejected(std::move(buffer), 431, "request head too large");
    // The end marker may straddle the previous chunk and the next one.
    scanned = buffer.size() < 3 ? 0 : buffer.size() - 3;
    if (!peer.read_some(buffer)) return std::nullopt;
  }
  const std::size_t head_length = head_end + kHeadEnd.size();
  auto parsed = parse_request_head(std::string_view(buffer).substr(0, head_length));
  if (!parsed) return rejected(buffer.substr(0, head_length), 400, parsed.error());
  if (parsed.value().content_length > kMaxBodyBytes) {
    return rejected(buffer.substr(0, head_length), 413, "request body too large");
  }
  ReceivedRequest request;
  request.parsed = std::move(parsed).value();
  const std::size_t total = head_length + request.parsed.content_length;
  while (buffer.size() < total) {
    if (!peer.read_some(buffer)) return std::nullopt;
  }
  request.head = buffer.substr(0, head_length);
  request.body = buffer.substr(head_length, request.parsed.content_length);
  if (request.parsed.method != "POST") {
    request.reject_status = 405;
    request.reject_reason = "method not allowed: " + request.parsed.method;
  }
  return request;
}

void AppServer::record(const ReceivedRequest& request) const {
  if (!setup_.record_file.valid()) return;
  nlohmann::ordered_json line = {{"head", request.head}, {"body", request.body}};
  (void)write_all(setup_.record_file.get(),
                  line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n");
}

void AppServer::reply(Peer& peer, const ReceivedRequest& request) {
  std::string built;
  std::optional<std::string_view> bytes;
  try {
    bytes = reply_bytes(peer, request, built);
  } catch (const std::exception& failure) {
    built = http_reply(500, compact_json(app_error(std::string("stand-in failure: ") + failure.what())));
    bytes = built;
  }
  if (!bytes) return;
  if (options_.mode == Mode::slow && request.reject_status == 0) {
    (void)peer.write_slowly(*bytes, std::chrono::milliseconds(options_.delay_ms));
  } else {
    (void)peer.write_all(*bytes);
  }
  if (request.reject_status != 0) peer.drain_and_close();
}

// The reply's bytes: made in `built`, or the body-file reply where it is kept (copying a reply of
// many megabytes for each request would hold back its first byte by as long as the copy takes).
std::optional<std::string_view> AppServer::reply_bytes(Peer& peer, const ReceivedRequest& request, std::string& built) {
  if (request.reject_status != 0)
    return built = http_reply(request.reject_status, compact_json(app_error(request.reject_reason)));
  if (request.parsed.token != setup_.token) return built = http_reply(401, compact_json(app_error("invalid token")));
  if (next_replay_ < setup_.replay_bodies.size()) return built = http_reply(200, setup_.replay_bodies[next_replay_++]);
  switch (options_.mode) {
    case Mode::body_file: return setup_.body_file_reply;
    case Mode::status500: return built = http_reply(500, R"({"error":"internal server error"})");
    case Mode::non_json: return built = http_reply(200, "not json\n");
    case Mode::two_values: return built = http_reply(200, R"({"a":1} {"b":2})");
    case Mode::no_blank_line:
      return built = std::string("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\n");
    default: break;
  }
  int status = 200;
  const std::optional<std::string> body = answer_body(peer, request, status);
  if (!body) return std::nullopt;
  return built = options_.mode == Mode::chunked ? chunked_reply(*body) : http_reply(status, *body);
}

std::optional<std::string> AppServer::answer_body(Peer& peer, const ReceivedRequest& request, int& status) {
  const json::Value call = json::Value::parse(request.body, nullptr, false);
  const auto method = string_member(call, "method");
  if (call.is_discarded() || !method) {
    status = 400;
    return compact_json(app_error("invalid request body"));
  }
  const json::Value* params = member(call, "params");
  const Sleeper sleep = [&peer](std::chrono::milliseconds duration) { return peer.pause(duration).ok(); };
  const std::optional<json::Value> answer = model_.perform(*method, params ? *params : json::Value(), sleep);
  if (!answer) return std::nullopt;
  return compact_json(*answer);
}

}  // namespace korvane::standin
