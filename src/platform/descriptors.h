// Descriptors that are close-on-exec from the start (and non-blocking when asked), and sends
// that never raise SIGPIPE, on every POSIX system.
//
// Where the system has them, descriptors are made so in one call: pipe2(2), accept4(2), socket(2)
// with SOCK_CLOEXEC and SOCK_NONBLOCK (Linux, the BSDs). Elsewhere (macOS) the descriptor is made
// with pipe(2), accept(2) or socket(2) and fcntl(2) sets FD_CLOEXEC and O_NONBLOCK right after;
// between the two a fork(2) in another thread could inherit it, and the programs here do not
// fork from threads.
//
// Sends pass MSG_NOSIGNAL where the system has it (Linux, the BSDs, and macOS SDKs since 14), and
// sockets get the SO_NOSIGPIPE option where it exists (macOS and the BSDs, setsockopt(2)), which
// also covers older macOS releases. On a system with neither, SIGPIPE is blocked in the sending
// thread for the send and one it raised is taken back before it is unblocked.
//
// Failures follow the system calls they wrap: an invalid descriptor (or nullopt) with errno set.
#pragma once

#include <sys/types.h>
#include <sys/uio.h>

#include <cstddef>
#include <optional>
#include <span>

#include "base/unique_fd.h"

namespace korvane::platform {

enum class Blocking { yes, no };

struct Pipe {
  UniqueFd read_end;
  UniqueFd write_end;
};

// A pipe whose two ends are close-on-exec; both non-blocking with Blocking::no.
std::optional<Pipe> open_pipe(Blocking blocking);

// An IPv4 stream socket, close-on-exec, that never raises SIGPIPE when used with send_no_sigpipe.
UniqueFd open_tcp_socket(Blocking blocking);

// accept(2), retried after EINTR, giving a close-on-exec socket that never raises SIGPIPE when
// used with send_no_sigpipe. Whether it blocks is set explicitly: Linux does not carry the
// listener's O_NONBLOCK over to it, macOS does.
UniqueFd accept_connection(int listener, Blocking blocking);

// Sets O_NONBLOCK on a descriptor; false, with errno set by fcntl(2), when it cannot.
[[nodiscard]] bool set_nonblocking(int fd);

// send(2) without SIGPIPE: a peer that has gone gives EPIPE instead. Not retried after EINTR.
// The socket comes from open_tcp_socket or accept_connection.
ssize_t send_no_sigpipe(int socket, const void* bytes, std::size_t size);

// The same for the parts in order, gathered into one sendmsg(2).
ssize_t send_no_sigpipe(int socket, std::span<const iovec> parts);

}  // namespace korvane::platform
