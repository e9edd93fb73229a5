#include "testkit/spawn.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <cerrno>

#include "common/posix.h"

namespace korvane::testkit {
namespace {

// posix_spawn's file actions and attributes, released whatever happens.
class SpawnSetup {
 public:
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions_);
    posix_spawnattr_init(&attributes_);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attributes_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  void connect(const ChildStdio& stdio, int target) {
    if (stdio.fd >= 0) {
      posix_spawn_file_actions_adddup2(&actions_, stdio.fd, target);
    } else if (!stdio.append_path.empty()) {
      posix_spawn_file_actions_addopen(&actions_, target, stdio.append_path.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                       0644);
    }
  }

  void default_signals() {
    sigset_t defaults, empty;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGHUP);
    sigemptyset(&empty);
    posix_spawnattr_setsigdefault(&attributes_, &defaults);
    posix_spawnattr_setsigmask(&attributes_, &empty);
    posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  }

  const posix_spawn_file_actions_t* actions() const { return &actions_; }
  const posix_spawnattr_t* attributes() const { return &attributes_; }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attributes_;
};

std::vector<char*> c_strings(const std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (const std::string& text : texts) pointers.push_back(const_cast<char*>(text.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

Outcome<pid_t> spawn(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                     const ChildStart& start) {
  if (argv.empty()) return error_text("spawn: no program given");
  SpawnSetup setup;
  setup.connect(start.in, STDIN_FILENO);
  setup.connect(start.out, STDOUT_FILENO);
  setup.connect(start.err, STDERR_FILENO);
  setup.default_signals();
  const std::vector<char*> args = c_strings(argv);
  const std::vector<char*> env = c_strings(environment);
  pid_t pid = -1;
  const int error = start.search_path
                        ? ::posix_spawnp(&pid, args[0], setup.actions(), setup.attributes(), args.data(), env.data())
                        : ::posix_spawn(&pid, args[0], setup.actions(), setup.attributes(), args.data(), env.data());
  if (error != 0) return error_text("spawn " + argv[0] + ": " + os_error_text(error));
  return pid;
}

}  // namespace korvane::testkit
