#include "platform/descriptors.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "base/eintr.h"
#include "platform/features.h"

namespace korvane::platform {
namespace {

// Closes the descriptor, keeping errno.
void discard(UniqueFd& fd) {
  const int error = errno;
  fd.reset();
  errno = error;
}

// FD_CLOEXEC, and O_NONBLOCK set or cleared as asked, on a descriptor made without them;
// false with errno.
bool set_flags_after_creation(int fd, Blocking blocking) {
  if (::fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) return false;
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) return false;
  const int wanted = blocking == Blocking::no ? flags | O_NONBLOCK : flags & ~O_NONBLOCK;
  return wanted == flags || ::fcntl(fd, F_SETFL, wanted) == 0;
}

// Where sockets can be told once not to raise SIGPIPE, they are.
bool suppress_sigpipe([[maybe_unused]] int socket) {
#if KORVANE_HAVE_SO_NOSIGPIPE
  const int on = 1;
  return ::setsockopt(socket, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on) == 0;
#else
  return true;
#endif
}

// A socket made with or without its flags: finished, or closed with the errno of the failed step.
UniqueFd finished_socket(UniqueFd socket, Blocking blocking, bool flags_set) {
  if (!socket.valid()) return socket;
  if (!flags_set) flags_set = set_flags_after_creation(socket.get(), blocking);
  if (!flags_set || !suppress_sigpipe(socket.get())) discard(socket);
  return socket;
}

#if !KORVANE_HAVE_MSG_NOSIGNAL && !KORVANE_HAVE_SO_NOSIGPIPE
// For systems with neither MSG_NOSIGNAL nor SO_NOSIGPIPE: SIGPIPE stays blocked in this thread
// while it lives, and a SIGPIPE that a send raised meanwhile is taken back (sigwait) before the
// thread's mask is restored. One that was pending before is left as it was.
class SigpipeHeldBack {
 public:
  SigpipeHeldBack() {
    sigemptyset(&sigpipe_);
    sigaddset(&sigpipe_, SIGPIPE);
    was_pending_ = pending();
    blocked_ = ::pthread_sigmask(SIG_BLOCK, &sigpipe_, &previous_) == 0;
  }
  ~SigpipeHeldBack() {
    if (!blocked_) return;
    const int error = errno;
    if (!was_pending_ && pending()) {
      int taken = 0;
      ::sigwait(&sigpipe_, &taken);
    }
    ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    errno = error;
  }
  SigpipeHeldBack(const SigpipeHeldBack&) = delete;
  SigpipeHeldBack& operator=(const SigpipeHeldBack&) = delete;

 private:
  static bool pending() {
    sigset_t set;
    sigemptyset(&set);
    return ::sigpending(&set) == 0 && sigismember(&set, SIGPIPE) == 1;
  }

  sigset_t sigpipe_;
  sigset_t previous_;
  bool was_pending_ = false;
  bool blocked_ = false;
};
#endif

}  // namespace

bool set_nonblocking(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

std::optional<Pipe> open_pipe(Blocking blocking) {
  int ends[2];
#if KORVANE_HAVE_PIPE2
  if (::pipe2(ends, O_CLOEXEC | (blocking == Blocking::no ? O_NONBLOCK : 0)) != 0) return std::nullopt;
  return Pipe{UniqueFd(ends[0]), UniqueFd(ends[1])};
#else
  if (::pipe(ends) != 0) return std::nullopt;
  Pipe pipe{UniqueFd(ends[0]), UniqueFd(ends[1])};
  if (!set_flags_after_creation(ends[0], blocking) || !set_flags_after_creation(ends[1], blocking)) {
    discard(pipe.read_end);
    discard(pipe.write_end);
    return std::nullopt;
  }
  return pipe;
#endif
}

UniqueFd open_tcp_socket(Blocking blocking) {
#if KORVANE_HAVE_SOCK_CLOEXEC && KORVANE_HAVE_SOCK_NONBLOCK
  const int type = SOCK_STREAM | SOCK_CLOEXEC | (blocking == Blocking::no ? SOCK_NONBLOCK : 0);
  return finished_socket(UniqueFd(::socket(AF_INET, type, 0)), blocking, true);
#else
  return finished_socket(UniqueFd(::socket(AF_INET, SOCK_STREAM, 0)), blocking, false);
#endif
}

UniqueFd accept_connection(int listener, Blocking blocking) {
  int fd = -1;
#if KORVANE_HAVE_ACCEPT4 && KORVANE_HAVE_SOCK_CLOEXEC && KORVANE_HAVE_SOCK_NONBLOCK
  KORVANE_RETRY_EINTR(
      fd, ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | (blocking == Blocking::no ? SOCK_NONBLOCK : 0)));
  return finished_socket(UniqueFd(fd), blocking, true);
#else
  // The listener's O_NONBLOCK may be inherited (macOS), so it is set or cleared either way.
  KORVANE_RETRY_EINTR(fd, ::accept(listener, nullptr, nullptr));
  return finished_socket(UniqueFd(fd), blocking, false);
#endif
}

ssize_t send_no_sigpipe(int socket, const void* bytes, std::size_t size) {
  const iovec part{const_cast<void*>(bytes), size};
  return send_no_sigpipe(socket, std::span(&part, 1));
}

ssize_t send_no_sigpipe(int socket, std::span<const iovec> parts) {
  msghdr message{};
  message.msg_iov = const_cast<iovec*>(parts.data());
  message.msg_iovlen = static_cast<decltype(message.msg_iovlen)>(parts.size());
#if KORVANE_HAVE_MSG_NOSIGNAL
  return ::sendmsg(socket, &message, MSG_NOSIGNAL);
#elif KORVANE_HAVE_SO_NOSIGPIPE
  return ::sendmsg(socket, &message, 0);  // the socket was made with SO_NOSIGPIPE
#else
  const SigpipeHeldBack held_back;
  return ::sendmsg(socket, &message, 0);
#endif
}

}  // namespace korvane::platform
