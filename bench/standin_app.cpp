#include "standin_app.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <vector>

#include "base/unique_fd.h"
#include "bridge/app_channel.h"
#include "bridge/socket_info.h"
#include "common/posix.h"
#include "pipe_io.h"
#include "platform/descriptors.h"
#include "testkit/files.h"

namespace korvane::bench {
namespace {

Outcome<void> send_all(int socket, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t sent = 0;
    KORVANE_RETRY_EINTR(sent, platform::send_no_sigpipe(socket, bytes.data(), bytes.size()));
    if (sent <= 0) return error_text("send: " + os_error_text(errno));
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return ok_outcome();
}

// One POST on a fresh connection; the number of bytes received until the app closed it.
Outcome<std::size_t> fetch_once(const SocketInfo& endpoint, std::vector<char>& buffer) {
  const UniqueFd owned = platform::open_tcp_socket(platform::Blocking::yes);
  if (!owned.valid()) return error_text("socket: " + os_error_text(errno));
  const int socket = owned.get();
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(endpoint.port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return error_text("connect: " + os_error_text(errno));
  }
  const std::string body = R"({"method":"screen_ocr"})";
  const std::string request = app_request_head(endpoint.port, endpoint.token, body.size()) + body;
  if (auto sent = send_all(socket, request); !sent) return error_text(sent.error());
  std::size_t received = 0;
  for (;;) {
    if (buffer.size() - received < (1 << 20)) buffer.resize(buffer.size() * 2 + (1 << 20));
    ssize_t got = 0;
    KORVANE_RETRY_EINTR(got, ::recv(socket, buffer.data() + received, buffer.size() - received, 0));
    if (got < 0) return error_text("recv: " + os_error_text(errno));
    if (got == 0) return received;
    received += static_cast<std::size_t>(got);
  }
}

}  // namespace

Outcome<Child> start_app(const std::string& binary, const std::string& socket_info, const std::string& body_path,
                         const std::string& stderr_path) {
  const std::vector<std::string> argv{binary,      "--socket-info", socket_info, "--mode",
                                      "body-file", "--body-file",   body_path,   "--exit-on-stdin-eof"};
  auto spawned = spawn_child(argv, Environment(socket_info), stderr_path);
  if (!spawned) return error_text(spawned.error());
  Child app = std::move(spawned).value();
  LineReceiver receiver(app.output());
  auto ready = receiver.next_line();
  if (!ready) return error_text("stand-in app: " + ready.error());
  if (ready.value().rfind("ready ", 0) != 0) return error_text("stand-in app said: " + std::string(ready.value()));
  return app;
}

Outcome<Samples> fetch_directly(const std::string& socket_info, std::size_t body_bytes, int runs) {
  const std::string text = testkit::read_file(socket_info);
  auto endpoint = decode_socket_info(text);
  if (!endpoint) return error_text("unreadable socket info: " + text);
  std::vector<char> buffer;
  Samples milliseconds;
  for (int run = 0; run < runs; ++run) {
    const auto start = std::chrono::steady_clock::now();
    auto received = fetch_once(endpoint.value(), buffer);
    const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
    if (!received) return error_text(received.error());
    if (received.value() < body_bytes) return error_text("short reply from the stand-in app");
    milliseconds.add(elapsed.count());
  }
  return milliseconds;
}

}  // namespace korvane::bench
