// The loopback listening socket, and a port on which nothing listens.
#pragma once

#include <cstdint>

#include "base/outcome.h"
#include "base/unique_fd.h"

namespace korvane::standin {

struct BoundSocket {
  UniqueFd socket;
  std::uint16_t port = 0;
};

// A non-blocking, close-on-exec socket listening on 127.0.0.1:port (0 picks a free port).
Outcome<BoundSocket> listen_on_loopback(std::uint16_t port);

// A socket bound to a free loopback port without listening: connects to that port are
// refused for as long as the socket stays open.
Outcome<BoundSocket> reserve_refusing_port();

}  // namespace korvane::standin
