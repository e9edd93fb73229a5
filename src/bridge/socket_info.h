// Finding and reading the desktop app's socket-info file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/outcome.h"
#include "common/whole_file.h"

namespace korvane {

inline constexpr std::string_view kAppNotRunning = "korvane GUI is not running (no socket-info.json found)";

struct SocketInfo {
  std::uint16_t port = 0;
  std::string token;
};

// The file is trusted only when it is a regular file of at most this size, owned by the
// effective user or root, and not writable by every user.
inline constexpr FileRules kSocketInfoRules{64 * 1024, true};

// Where the socket-info file lies: KORVANE_SOCKET_INFO, else under HOME, TMPDIR, the system's
// per-user temporary directory (where it names one) or /tmp. A byte string; never fails.
std::string socket_info_path();

// One place the socket-info file may lie, in the order socket_info_path tries them. The first
// that has a path is the one used; the environment decides, not whether a file exists.
struct SocketInfoLocation {
  std::string_view source;          // "KORVANE_SOCKET_INFO", "$HOME", "$TMPDIR", ...
  std::optional<std::string> path;  // nullopt when the source is not available
  std::string_view unavailable;     // why not, e.g. "not set"
};
std::vector<SocketInfoLocation> socket_info_locations();

// Decodes the bytes of a socket-info file; every failure is the not-running text. Port 0
// decodes; reading the file for use refuses it (no app listens there).
Outcome<SocketInfo> decode_socket_info(std::string_view bytes);

// What reading one socket-info file came to, for diagnostics. Nothing in it holds the token
// but info itself.
struct SocketInfoProbe {
  WholeFile file;            // the checks' verdict (content cleared once decoded)
  Outcome<SocketInfo> info;  // the decoded file, or the not-running text
  std::string problem;       // why info failed, for a person ("" when it did not)
};
SocketInfoProbe probe_socket_info(const std::string& path);

// Reads and decodes the socket-info file; every failure (port 0 too) is the not-running text.
Outcome<SocketInfo> read_socket_info();

}  // namespace korvane
