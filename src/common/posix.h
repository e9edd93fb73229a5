// Writing whole buffers to descriptors; with the EINTR retry and the errno texts they use.
#pragma once

#include <cerrno>
#include <string>
#include <string_view>

#include "base/eintr.h"
#include "base/outcome.h"
#include "platform/os_error.h"

namespace korvane {

// Writes all bytes to a descriptor, resuming after partial and interrupted writes. A
// non-blocking descriptor that is full is waited on (its flags are left alone). The error is
// the system's text: EIO when a write accepts nothing, EPIPE when the reader goes away while
// the descriptor is full.
Outcome<void> write_all(int fd, std::string_view bytes);

// After a write failed with EAGAIN: waits until the descriptor takes more bytes. The error is
// EPIPE's text when its reader goes away meanwhile.
Outcome<void> wait_writable(int fd);

}  // namespace korvane
