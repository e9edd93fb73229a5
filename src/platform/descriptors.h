// Descriptors that are close-on-exec from the start (and non-blocking when asked), and sends
// that never raise SIGPIPE, on Linux and on macOS alike.
//
// Linux creates them in one call: pipe2(2), accept4(2), socket(2) with SOCK_CLOEXEC and
// SOCK_NONBLOCK, send(2) with MSG_NOSIGNAL. macOS has none of these; there the descriptor is
// created with pipe(2), accept(2) or socket(2) and fcntl(2) sets FD_CLOEXEC and O_NONBLOCK right
// after, and sockets get the SO_NOSIGPIPE option (setsockopt(2), macOS "man 2 setsockopt"),
// which stands in for MSG_NOSIGNAL on every send. Between creation and fcntl a fork(2) in
// another thread could inherit the descriptor; the programs here do not fork from threads.
//
// Failures follow the system calls they wrap: an invalid descriptor (or nullopt) with errno set.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <optional>

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
// The socket comes from open_tcp_socket or accept_connection (on macOS they set SO_NOSIGPIPE).
ssize_t send_no_sigpipe(int socket, const void* bytes, std::size_t size);

}  // namespace korvane::platform
