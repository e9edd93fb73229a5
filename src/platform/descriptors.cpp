#include "platform/descriptors.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "base/eintr.h"
#include "platform/os_error.h"

namespace korvane::platform {
namespace {

// FD_CLOEXEC, and O_NONBLOCK set or cleared as asked, on a descriptor made without them;
// false with errno.
[[maybe_unused]] bool set_flags_after_creation(int fd, Blocking blocking) {
  if (::fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) return false;
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) return false;
  const int wanted = blocking == Blocking::no ? flags | O_NONBLOCK : flags & ~O_NONBLOCK;
  return wanted == flags || ::fcntl(fd, F_SETFL, wanted) == 0;
}

// Sockets on macOS are told once not to raise SIGPIPE (MSG_NOSIGNAL does it per send elsewhere).
bool suppress_sigpipe([[maybe_unused]] int socket) {
#if defined(SO_NOSIGPIPE)
  const int on = 1;
  return ::setsockopt(socket, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on) == 0;
#else
  return true;
#endif
}

// Closes the descriptor on failure, keeping the errno of the failed step.
UniqueFd finished_socket(UniqueFd socket, bool flags_set) {
  if (!flags_set || !suppress_sigpipe(socket.get())) {
    const int error = errno;
    socket.reset();
    errno = error;
  }
  return socket;
}

}  // namespace

bool set_nonblocking(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

std::optional<Pipe> open_pipe(Blocking blocking) {
  int ends[2];
#if defined(__linux__)
  if (::pipe2(ends, O_CLOEXEC | (blocking == Blocking::no ? O_NONBLOCK : 0)) != 0) return std::nullopt;
  return Pipe{UniqueFd(ends[0]), UniqueFd(ends[1])};
#else
  if (::pipe(ends) != 0) return std::nullopt;
  Pipe pipe{UniqueFd(ends[0]), UniqueFd(ends[1])};
  if (!set_flags_after_creation(ends[0], blocking) || !set_flags_after_creation(ends[1], blocking)) {
    const int error = errno;
    pipe = Pipe{};
    errno = error;
    return std::nullopt;
  }
  return pipe;
#endif
}

UniqueFd open_tcp_socket(Blocking blocking) {
#if defined(SOCK_CLOEXEC) && defined(SOCK_NONBLOCK)
  UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (blocking == Blocking::no ? SOCK_NONBLOCK : 0), 0));
  const bool flags_set = true;
#else
  UniqueFd socket(::socket(AF_INET, SOCK_STREAM, 0));
  const bool flags_set = socket.valid() && set_flags_after_creation(socket.get(), blocking);
#endif
  if (!socket.valid()) return socket;
  return finished_socket(std::move(socket), flags_set);
}

UniqueFd accept_connection(int listener, Blocking blocking) {
  int fd = -1;
#if defined(__linux__)
  KORVANE_RETRY_EINTR(fd, ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | (blocking == Blocking::no ? SOCK_NONBLOCK : 0)));
  UniqueFd socket(fd);
  const bool flags_set = true;
#else
  KORVANE_RETRY_EINTR(fd, ::accept(listener, nullptr, nullptr));
  UniqueFd socket(fd);
  // The listener's O_NONBLOCK is inherited here, so it is set or cleared either way.
  const bool flags_set = socket.valid() && set_flags_after_creation(fd, blocking);
#endif
  if (!socket.valid()) return socket;
  return finished_socket(std::move(socket), flags_set);
}

ssize_t send_no_sigpipe(int socket, const void* bytes, std::size_t size) {
#if defined(MSG_NOSIGNAL)
  return ::send(socket, bytes, size, MSG_NOSIGNAL);
#else
  return ::send(socket, bytes, size, 0);  // SO_NOSIGPIPE was set when the socket was made
#endif
}

}  // namespace korvane::platform
