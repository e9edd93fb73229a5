// The absolute path of the running program's own file, as the operating system knows it (not
// argv[0], not a search of PATH): what an agent client's configuration must name to start this
// very binary.
#pragma once

#include <optional>
#include <string>

namespace korvane::platform {

// The program file's absolute path with every symbolic link resolved; nullopt with errno set
// when the system cannot tell (no /proc mounted, the file deleted or replaced since it started).
std::optional<std::string> executable_path();

}  // namespace korvane::platform
