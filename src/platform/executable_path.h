// The absolute path of the running program's own file, as the operating system knows it (not
// argv[0], not a search of PATH): what an agent client's configuration must name to start this
// very binary.
#pragma once

#include <optional>
#include <string>

namespace korvane::platform {

// The program file's absolute path with every symbolic link resolved (but the one a package
// manager keeps, see below); nullopt with errno set when the system cannot tell (no /proc
// mounted, the file deleted or replaced since it started).
std::optional<std::string> executable_path();

// Homebrew installs a program into a folder per version, <prefix>/Cellar/<formula>/<version>/bin/,
// and links it as <prefix>/bin/<name>; an upgrade removes the old version's folder. For a
// resolved path in such a folder this gives the link when it leads to the same file, so that a
// configuration naming it survives upgrades; else the path itself.
std::string lasting_link(const std::string& resolved);

}  // namespace korvane::platform
