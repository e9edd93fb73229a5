// Starting a child process with exactly the arguments, environment and standard descriptors given.
// The child begins with default handling of SIGPIPE, SIGTERM, SIGINT and SIGHUP and no signal blocked,
// whatever the parent does with its own: as a shell or an agent would start it.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "base/outcome.h"

namespace korvane::testkit {

// One standard descriptor of the child: one of ours (dup2), a file opened for appending, or
// (neither) the parent's own.
struct ChildStdio {
  int fd = -1;
  std::string append_path{};  // used when fd is -1; created when missing
};

struct ChildStart {
  ChildStdio in{}, out{}, err{};
  bool search_path = false;  // argv[0] without a "/" is looked up in our PATH (posix_spawnp)
};

// Starts argv with `environment` ("NAME=value" entries) as its whole environment; the child's
// process id, or "spawn ARGV0: " and the system's reason.
Outcome<pid_t> spawn(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                     const ChildStart& start);

}  // namespace korvane::testkit
