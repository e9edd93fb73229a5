// Holding back the signals that ask the server to end while an answer is being written.
#pragma once

#include <signal.h>

namespace korvane::platform {

// While it lives, SIGTERM, SIGINT and SIGHUP are blocked in this thread (pthread_sigmask(3),
// the same call on Linux and macOS); one that arrives meanwhile stays pending and takes its
// usual effect (its disposition is left alone) as the previous mask is restored. So the lines
// written in between are finished before the process ends: a client reads lines, and a torn one
// would be the last thing it saw. Errno is kept.
class TerminationHeldBack {
 public:
  TerminationHeldBack();
  ~TerminationHeldBack();
  TerminationHeldBack(const TerminationHeldBack&) = delete;
  TerminationHeldBack& operator=(const TerminationHeldBack&) = delete;

 private:
  sigset_t previous_;
  bool blocked_ = false;
};

}  // namespace korvane::platform
