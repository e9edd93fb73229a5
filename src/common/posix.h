// Small POSIX helpers: EINTR retry and errno texts in the "... (os error N)" form.
#pragma once

#include <cerrno>
#include <string>

// Repeats a system call while it fails with EINTR; evaluates to its last result.
#define KORVANE_RETRY_EINTR(result, expression) \
  do {                                          \
    (result) = (expression);                    \
  } while ((result) == -1 && errno == EINTR)

namespace korvane {

// The system's description of an errno value followed by " (os error N)".
std::string os_error_text(int error_number);

}  // namespace korvane
