// Finding and reading the desktop app's socket-info file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/outcome.h"

namespace korvane {

inline constexpr std::string_view kAppNotRunning =
    "korvane GUI is not running (no socket-info.json found)";

struct SocketInfo {
  std::uint16_t port = 0;
  std::string token;
};

// Where the socket-info file lies: KORVANE_SOCKET_INFO, else under HOME, TMPDIR, the
// per-user temporary directory or /tmp. A byte string; never fails.
std::string socket_info_path();

// Decodes the bytes of a socket-info file; every failure is the not-running text.
Outcome<SocketInfo> decode_socket_info(std::string_view bytes);

// Reads and decodes the socket-info file; every failure is the not-running text.
Outcome<SocketInfo> read_socket_info();

}  // namespace korvane
