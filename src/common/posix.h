// Small POSIX helpers: EINTR retry and errno texts in the "... (os error N)" form.
#pragma once

#include <cerrno>
#include <string>
#include <string_view>

#include "common/outcome.h"

// Repeats a system call while it fails with EINTR; evaluates to its last result.
#define KORVANE_RETRY_EINTR(result, expression) \
  do {                                          \
    (result) = (expression);                    \
  } while ((result) == -1 && errno == EINTR)

namespace korvane {

// The system's description of an errno value followed by " (os error N)".
std::string os_error_text(int error_number);

// Writes all bytes to a descriptor, resuming after partial and interrupted writes. A
// non-blocking descriptor that is full is waited on (its flags are left alone). The error is
// the system's text: EIO when a write accepts nothing, EPIPE when the reader goes away while
// the descriptor is full.
Outcome<void> write_all(int fd, std::string_view bytes);

// After a write failed with EAGAIN: waits until the descriptor takes more bytes. The error is
// EPIPE's text when its reader goes away meanwhile.
Outcome<void> wait_writable(int fd);

}  // namespace korvane
