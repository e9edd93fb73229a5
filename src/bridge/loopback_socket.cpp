#include "bridge/loopback_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include "common/posix.h"

namespace korvane {
namespace {

// Without SO_NOSIGPIPE every send asks the kernel not to raise SIGPIPE.
#if defined(SO_NOSIGPIPE)
constexpr int kSendFlags = 0;
#else
constexpr int kSendFlags = MSG_NOSIGNAL;
#endif

// Reads are issued with at least this much free space at the buffer's tail.
constexpr std::size_t kMinReadSpace = 64 * 1024;

std::string last_error() { return os_error_text(errno); }

Outcome<UniqueFd> open_stream_socket() {
#if defined(SOCK_CLOEXEC)
  UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (socket.get() < 0) return error_text(last_error());
#else
  UniqueFd socket(::socket(AF_INET, SOCK_STREAM, 0));
  if (socket.get() < 0 || ::fcntl(socket.get(), F_SETFD, FD_CLOEXEC) < 0) return error_text(last_error());
#endif
#if defined(SO_NOSIGPIPE)
  const int on = 1;
  if (::setsockopt(socket.get(), SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on) < 0) return error_text(last_error());
#endif
  return socket;
}

// Waits for a connect still in progress after an interrupted call; 0 or its errno.
int finish_connect(int fd) {
  pollfd entry{fd, POLLOUT, 0};
  int ready = 0;
  KORVANE_RETRY_EINTR(ready, ::poll(&entry, 1, -1));
  if (ready < 0) return errno;
  int pending = 0;
  socklen_t length = sizeof pending;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &pending, &length) < 0) return errno;
  return pending;
}

// Connects, retrying after EINTR; 0 or the errno of the failure.
int connect_retrying(int fd, const sockaddr_in& address) {
  const auto* target = reinterpret_cast<const sockaddr*>(&address);
  if (::connect(fd, target, sizeof address) == 0) return 0;
  bool interrupted = errno == EINTR;
  while (interrupted) {
    if (::connect(fd, target, sizeof address) == 0 || errno == EISCONN) return 0;
    if (errno == EALREADY || errno == EINPROGRESS) return finish_connect(fd);
    interrupted = errno == EINTR;
  }
  return errno;
}

// Blocks until the socket has data or end of stream. Gives up when the reader of standard
// output has gone away: nobody could read the answer any more.
std::optional<std::string> wait_for_reply(int fd) {
  pollfd watched[2] = {{fd, POLLIN, 0}, {STDOUT_FILENO, 0, 0}};
  for (;;) {
    int ready = 0;
    KORVANE_RETRY_EINTR(ready, ::poll(watched, 2, -1));
    if (ready < 0) return last_error();
    if ((watched[1].revents & (POLLERR | POLLHUP)) != 0) return "the reader of standard output is gone";
    if (watched[0].revents != 0) return std::nullopt;
    if ((watched[1].revents & POLLNVAL) != 0) watched[1].fd = -1;  // no stdout to watch
  }
}

}  // namespace

Outcome<UniqueFd> connect_loopback(std::uint16_t port) {
  auto socket = open_stream_socket();
  if (!socket) return socket;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (const int failure = connect_retrying(socket.value().get(), address); failure != 0) {
    return error_text(os_error_text(failure));
  }
  return socket;
}

std::optional<std::string> send_all(const UniqueFd& socket, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t sent = 0;
    KORVANE_RETRY_EINTR(sent, ::send(socket.get(), bytes.data(), bytes.size(), kSendFlags));
    if (sent < 0) return last_error();
    if (sent == 0) return "failed to write whole buffer";
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return std::nullopt;
}

std::optional<std::string> receive_to_end(const UniqueFd& socket, ByteBuffer& out,
                                          std::size_t (*expected_size)(std::string_view received)) {
  for (;;) {
    if (auto abandoned = wait_for_reply(socket.get())) return abandoned;
    char* tail = out.tail(kMinReadSpace);
    ssize_t received = 0;
    KORVANE_RETRY_EINTR(received, ::recv(socket.get(), tail, out.tail_size(), 0));
    if (received < 0) return last_error();
    if (received == 0) return std::nullopt;
    out.commit(static_cast<std::size_t>(received));
    if (expected_size != nullptr) {
      if (const std::size_t size = expected_size(out.view()); size != 0) {
        out.reserve(size + kMinReadSpace);  // room for the last, empty read too
        expected_size = nullptr;
      }
    }
  }
}

}  // namespace korvane
