#include "stop_signal.h"

#include <unistd.h>

#include <csignal>
#include <string>

#include "common/posix.h"
#include "platform/descriptors.h"

namespace korvane::standin {
namespace {

volatile std::sig_atomic_t g_stop = 0;
int g_wake_write_end = -1;

extern "C" void on_stop_signal(int) {
  const int saved_errno = errno;
  g_stop = 1;
  const char byte = 1;
  // A full pipe already wakes the reader, so a failed write loses nothing.
  [[maybe_unused]] const ssize_t written = ::write(g_wake_write_end, &byte, 1);
  errno = saved_errno;
}

}  // namespace

Outcome<int> install_stop_signals() {
  auto pipe = platform::open_pipe(platform::Blocking::no);
  if (!pipe) return error_text("pipe: " + os_error_text(errno));
  g_wake_write_end = pipe->write_end.release();  // lives as long as the process

  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  if (::sigaction(SIGTERM, &action, nullptr) != 0 || ::sigaction(SIGINT, &action, nullptr) != 0) {
    return error_text("sigaction: " + os_error_text(errno));
  }
  std::signal(SIGPIPE, SIG_IGN);
  return pipe->read_end.release();
}

bool stop_requested() { return g_stop != 0; }

}  // namespace korvane::standin
