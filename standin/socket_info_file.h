// Publishing and withdrawing the socket-info file that tells clients the port and token.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/outcome.h"

namespace korvane::standin {

// --socket-info, else $KORVANE_SOCKET_INFO, else $HOME/.config/korvane/socket-info.json.
Outcome<std::string> resolve_socket_info_path(const std::optional<std::string>& option);

// 32 lower-case hex digits from /dev/urandom.
Outcome<std::string> random_token();

// Writes {"port":P,"token":T} to PATH.tmp.<pid> and renames it over PATH, creating the
// parent directories first.
Outcome<void> publish_socket_info(const std::string& path, std::uint16_t port, const std::string& token);

// Removes the published file; a file that is already gone is fine.
void withdraw_socket_info(const std::string& path);

}  // namespace korvane::standin
