// Retrying system calls that an interrupting signal cut short.
#pragma once

#include <cerrno>

// Repeats a system call while it fails with EINTR; evaluates to its last result.
#define KORVANE_RETRY_EINTR(result, expression) \
  do {                                          \
    (result) = (expression);                    \
  } while ((result) == -1 && errno == EINTR)
