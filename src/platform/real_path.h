// A path with every symbolic link, "." and ".." resolved, as the system resolves it.
#pragma once

#include <optional>
#include <string>

namespace korvane::platform {

// realpath(3) with the buffer it allocates (POSIX.1-2008; Apple's realpath(3) documents the same
// since macOS 10.6): absolute, no symbolic link, no "." or "..". The path must exist; nullopt
// with errno set when it does not or cannot be resolved. macOS's /tmp gives /private/tmp.
std::optional<std::string> real_path(const std::string& path);

}  // namespace korvane::platform
