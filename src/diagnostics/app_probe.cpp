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

// Waits until the socket is ready for `events`; 0, ETIMEDOUT or the errno of poll.
int wait_ready(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd entry{fd, events, 0};
    const int ready = ::poll(&entry, 1, milliseconds_left(deadline));
    if (ready > 0) return 0;
    if (ready == 0) return ETIMEDOUT;
    if (errno != EINTR) return errno;
  }
}

std::string timed_out(Milliseconds limit) { return "no answer within " + std::to_string(limit.count()) + " ms"; }

// Writes all bytes before the deadline; nullopt or the error text. SIGPIPE is ignored by the
// program (and suppressed on the socket where the system offers that).
std::optional<std::string> send_before(int fd, std::string_view bytes, Clock::time_point deadline, Milliseconds limit) {
  while (!bytes.empty()) {
    if (const int failure = wait_ready(fd, POLLOUT, deadline)) {
      return failure == ETIMEDOUT ? timed_out(limit) : os_error_text(failure);
    }
    const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), 0);
    if (sent < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    if (sent < 0) return os_error_text(errno);
    if (sent == 0) return "failed to write whole buffer";
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return std::nullopt;
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
  if (const int failure = wait_ready(fd, POLLOUT, Clock::now() + limit)) {
    return error_text(failure == ETIMEDOUT ? "no connection within " + std::to_string(limit.count()) + " ms"
                                           : os_error_text(failure));
  }
  int pending = 0;
  socklen_t length = sizeof pending;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &pending, &length) != 0) pending = errno;
  if (pending != 0) return error_text(os_error_text(pending));
  return socket;
}

std::optional<std::string> exchange_within(const UniqueFd& socket, std::string_view head, std::string_view body,
                                           Milliseconds limit, std::size_t max_reply, std::string& reply) {
  const Clock::time_point deadline = Clock::now() + limit;
  const int fd = socket.get();
  if (auto failure = send_before(fd, head, deadline, limit)) return "write head: " + *failure;
  if (auto failure = send_before(fd, body, deadline, limit)) return "write body: " + *failure;
  char chunk[16384];
  while (reply.size() < max_reply) {
    if (const int failure = wait_ready(fd, POLLIN, deadline)) {
      return "read: " + (failure == ETIMEDOUT ? timed_out(limit) : os_error_text(failure));
    }
    const ssize_t got = ::recv(fd, chunk, std::min(sizeof chunk, max_reply - reply.size()), 0);
    if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    if (got < 0) return "read: " + os_error_text(errno);
    if (got == 0) break;
    reply.append(chunk, static_cast<std::size_t>(got));
  }
  return std::nullopt;
}

}  // namespace korvane
