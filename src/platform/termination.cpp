#include "platform/termination.h"

#include <pthread.h>

#include <cerrno>
#include <initializer_list>

namespace korvane::platform {

TerminationHeldBack::TerminationHeldBack() {
  sigset_t ending;
  sigemptyset(&ending);
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&ending, signal);
  const int error = errno;
  blocked_ = ::pthread_sigmask(SIG_BLOCK, &ending, &previous_) == 0;
  errno = error;
}

TerminationHeldBack::~TerminationHeldBack() {
  if (!blocked_) return;
  const int error = errno;
  ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  errno = error;
}

}  // namespace korvane::platform
