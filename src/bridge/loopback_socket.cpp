#include "bridge/loopback_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <span>

#include "common/posix.h"
#include "common/stdout_failure.h"
#include "platform/client_watch.h"
#include "platform/descriptors.h"

namespace korvane {
namespace {

using platform::Io;

// Reads are issued with at least this much free space at the buffer's tail.
constexpr std::size_t kMinReadSpace = 64 * 1024;

std::string last_error() { return os_error_text(errno); }

bool would_block(int error_number) { return error_number == EAGAIN || error_number == EWOULDBLOCK; }

// Waits until the socket is ready. When the reader of standard output goes away meanwhile,
// nobody could read the answer: that is noted as a failed write of it would be, and the
// exchange gives up.
Outcome<void> await(int fd, Io io) {
  auto wake = platform::wait_ready(fd, io, STDOUT_FILENO);
  if (!wake) return std::move(wake).failure();
  if (wake.value() == platform::Wake::reader_gone) {
    note_stdout_unwritable(os_error_text(EPIPE));
    return error_text(os_error_text(EPIPE));
  }
  return ok_outcome();
}

}  // namespace

Outcome<UniqueFd> open_stream_socket() {
  UniqueFd socket = platform::open_tcp_socket(platform::Blocking::no);
  if (!socket.valid()) return error_text(last_error());
  // With a standard stream closed at start the socket would take its number: then it would be
  // watched as standard output, and a diagnostic would go to the app. The copy shares the
  // socket's flags and options.
  if (socket.get() <= STDERR_FILENO) {
    socket = UniqueFd(::fcntl(socket.get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1));
    if (!socket.valid()) return error_text(last_error());
  }
  return socket;
}

namespace {

// Connects without blocking, then waits for the handshake. An interrupted connect goes on in
// the background just as one in progress does.
Outcome<void> connect_waiting(int fd, const sockaddr_in& address) {
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return ok_outcome();
  if (errno != EINPROGRESS && errno != EINTR) return error_text(last_error());
  if (auto waited = await(fd, Io::write); !waited) return waited;
  int pending = 0;
  socklen_t length = sizeof pending;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &pending, &length) < 0) return error_text(last_error());
  // A reset ends a connection that was made (a refused one reads ECONNREFUSED): as after a
  // blocking connect, the failure is the first write's.
  if (pending != 0 && pending != ECONNRESET) return error_text(os_error_text(pending));
  return ok_outcome();
}

}  // namespace

Outcome<UniqueFd> connect_loopback(std::uint16_t port) {
  auto socket = open_stream_socket();
  if (!socket) return socket;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (auto connected = connect_waiting(socket.value().get(), address); !connected) {
    return std::move(connected).failure();
  }
  return socket;
}

Outcome<void> send_all(const UniqueFd& socket, std::string_view first, std::string_view second, std::size_t& written) {
  written = 0;
  const std::size_t total = first.size() + second.size();
  while (written < total) {
    const std::string_view parts[] = {first.substr(std::min(written, first.size())),
                                      second.substr(written > first.size() ? written - first.size() : 0)};
    const iovec vectors[2] = {{const_cast<char*>(parts[0].data()), parts[0].size()},
                              {const_cast<char*>(parts[1].data()), parts[1].size()}};
    const std::span<const iovec> unsent = parts[0].empty() ? std::span(vectors).subspan(1) : std::span(vectors);
    ssize_t sent = 0;
    KORVANE_RETRY_EINTR(sent, platform::send_no_sigpipe(socket.get(), unsent));
    if (sent < 0 && would_block(errno)) {
      if (auto waited = await(socket.get(), Io::write); !waited) return waited;
      continue;
    }
    if (sent < 0) return error_text(last_error());
    if (sent == 0) return error_text("failed to write whole buffer");
    written += static_cast<std::size_t>(sent);
  }
  return ok_outcome();
}

Outcome<void> receive_to_end(const UniqueFd& socket, ByteBuffer& out, StreamWatcher* watcher) {
  bool sized = watcher == nullptr;
  for (;;) {
    char* tail = out.tail(kMinReadSpace);
    if (tail == nullptr) return error_text(os_error_text(ENOMEM));
    ssize_t received = 0;
    KORVANE_RETRY_EINTR(received, ::recv(socket.get(), tail, out.tail_size(), 0));
    if (received < 0 && would_block(errno)) {
      if (auto waited = await(socket.get(), Io::read); !waited) return waited;
      continue;
    }
    if (received < 0) return error_text(last_error());
    if (received == 0) return ok_outcome();
    out.commit(static_cast<std::size_t>(received));
    if (watcher == nullptr) continue;
    if (!sized) {
      if (const std::size_t size = watcher->expected_size(out.view()); size != 0) {
        out.reserve(size + kMinReadSpace);  // room for the last, empty read too
        sized = true;
      }
    }
    watcher->received(out);
  }
}

}  // namespace korvane
