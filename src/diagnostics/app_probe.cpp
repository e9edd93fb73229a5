#include "diagnostics/app_probe.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>

#include "bridge/loopback_socket.h"
#include "common/posix.h"

namespace korvane {
namespace {

using Clock = std::chrono::steady_clock;

int milliseconds_left(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<Milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, 3'600'000));
}

// Waits until the socket is ready for `events`; else "<missing> within <limit> ms" or the
// system's error.
Outcome<void> wait_ready(int fd, short events, Clock::time_point deadline, std::string_view missing,
                         Milliseconds limit) {
  for (;;) {
    pollfd entry{fd, events, 0};
    const int ready = ::poll(&entry, 1, milliseconds_left(deadline));
    if (ready > 0) return ok_outcome();
    if (ready == 0) return error_text(std::string(missing) + " within " + std::to_string(limit.count()) + " ms");
    if (errno != EINTR) return error_text(os_error_text(errno));
  }
}

// Writes all bytes before the deadline. SIGPIPE is ignored by the program (and suppressed on
// the socket where the system offers that).
Outcome<void> send_before(int fd, std::string_view bytes, Clock::time_point deadline, Milliseconds limit) {
  while (!bytes.empty()) {
    if (auto ready = wait_ready(fd, POLLOUT, deadline, "no answer", limit); !ready) return ready;
    const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), 0);
    if (sent < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    if (sent < 0) return error_text(os_error_text(errno));
    if (sent == 0) return error_text("failed to write whole buffer");
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return ok_outcome();
}

// The failure with the step it happened in put before it.
ErrorText in_step(std::string_view step, Outcome<void> failed) {
  return error_text(std::string(step) + std::move(failed).take_error());
}

}  // namespace

Outcome<UniqueFd> connect_within(std::uint16_t port, Milliseconds limit) {
  auto socket = open_stream_socket();
  if (!socket) return socket;
  const int fd = socket.value().get();  // non-blocking already
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return socket;
  // A non-blocking connect interrupted by a signal goes on in the background, as one in progress.
  if (errno != EINPROGRESS && errno != EINTR) return error_text(os_error_text(errno));
  auto connected = wait_ready(fd, POLLOUT, Clock::now() + limit, "no connection", limit);
  if (!connected) return std::move(connected).failure();
  int pending = 0;
  socklen_t length = sizeof pending;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &pending, &length) != 0) pending = errno;
  if (pending != 0) return error_text(os_error_text(pending));
  return socket;
}

Outcome<AppReply> exchange_within(const UniqueFd& socket, std::string_view head, std::string_view body,
                                  Milliseconds limit, std::size_t max_reply) {
  const Clock::time_point deadline = Clock::now() + limit;
  const int fd = socket.get();
  if (auto sent = send_before(fd, head, deadline, limit); !sent) return in_step("write head: ", std::move(sent));
  if (auto sent = send_before(fd, body, deadline, limit); !sent) return in_step("write body: ", std::move(sent));
  AppReply reply;
  char chunk[16384];
  // One byte past the limit tells a reply of exactly max_reply bytes from a longer one.
  while (reply.bytes.size() <= max_reply) {
    if (auto ready = wait_ready(fd, POLLIN, deadline, "no answer", limit); !ready)
      return in_step("read: ", std::move(ready));
    const ssize_t got = ::recv(fd, chunk, std::min(sizeof chunk, max_reply + 1 - reply.bytes.size()), 0);
    if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    if (got < 0) return error_text("read: " + os_error_text(errno));
    if (got == 0) break;
    reply.bytes.append(chunk, static_cast<std::size_t>(got));
  }
  if (reply.bytes.size() > max_reply) {
    reply.bytes.resize(max_reply);
    reply.whole = false;
  }
  return reply;
}

}  // namespace korvane
