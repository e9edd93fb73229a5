#include "listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "common/posix.h"
#include "platform/descriptors.h"

namespace korvane::standin {
namespace {

Outcome<BoundSocket> bind_loopback(std::uint16_t port) {
  UniqueFd socket = platform::open_tcp_socket(platform::Blocking::no);
  if (!socket.valid()) return error_text("socket: " + os_error_text(errno));
  const int on = 1;
  if (::setsockopt(socket.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
    return error_text("setsockopt SO_REUSEADDR: " + os_error_text(errno));
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return error_text("bind 127.0.0.1:" + std::to_string(port) + ": " + os_error_text(errno));
  }
  socklen_t length = sizeof address;
  if (::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return error_text("getsockname: " + os_error_text(errno));
  }
  return BoundSocket{std::move(socket), ntohs(address.sin_port)};
}

}  // namespace

Outcome<BoundSocket> listen_on_loopback(std::uint16_t port) {
  auto bound = bind_loopback(port);
  if (!bound) return bound;
  if (::listen(bound.value().socket.get(), SOMAXCONN) != 0) return error_text("listen: " + os_error_text(errno));
  return bound;
}

Outcome<BoundSocket> reserve_refusing_port() { return bind_loopback(0); }

}  // namespace korvane::standin
