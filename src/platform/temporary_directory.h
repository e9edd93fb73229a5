// The per-user temporary directory that some systems name on their own, besides $TMPDIR: on
// macOS confstr(3) reports it as _CS_DARWIN_USER_TEMP_DIR (a folder under /var/folders).
#pragma once

#include <optional>
#include <string>

namespace korvane::platform {

// Whether this system names such a directory at all.
bool has_user_temporary_directory();

// The directory the system names; nullopt where it names none, or reports none now.
std::optional<std::string> user_temporary_directory();

}  // namespace korvane::platform
