// Waiting on a descriptor while watching that someone still reads standard output: every
// blocking point of a tool call waits here, so a client that goes away is noticed within a
// second instead of when the app finally answers.
//
// Linux and other poll systems: a pipe or FIFO whose reader is gone reports POLLERR, a socket
// whose peer has closed reports POLLHUP, even with no events requested. macOS reports nothing
// for a pipe through poll() without requested events, so where the system has kqueue(2) (macOS,
// the BSDs) its EVFILT_WRITE filter on the descriptor is asked instead; Apple's kqueue(2) man
// page documents that this filter "will set EV_EOF when the reader disconnects" and is "not
// supported for vnodes" (regular files).
#pragma once

#include "base/outcome.h"

namespace korvane::platform {

enum class Io { read, write };

enum class Wake {
  ready,        // the descriptor is ready (or has an error or hang-up for the next call to report)
  reader_gone,  // the watched descriptor's reader has gone away
};

// No descriptor to watch: the wait has no time limit.
inline constexpr int kWatchNothing = -1;

// True when `fd` is a pipe, FIFO or socket whose reading end has gone away, so that a write
// to it would fail with EPIPE. False for a regular file, /dev/null, a terminal, a closed
// descriptor and anything that cannot be asked.
bool reader_gone(int fd);

// Waits until `fd` is ready for `io`, without spinning. With a watched descriptor the wait
// wakes at least once a second and ends with Wake::reader_gone as soon as reader_gone(watched)
// holds. Interrupted waits are resumed; the error is the system's text for a failing wait.
Outcome<Wake> wait_ready(int fd, Io io, int watched = kWatchNothing);

}  // namespace korvane::platform
