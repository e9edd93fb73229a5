#include "common/posix.h"

#include <unistd.h>

#include "platform/client_watch.h"

namespace korvane {

Outcome<void> wait_writable(int fd) {
  auto wake = platform::wait_ready(fd, platform::Io::write, fd);
  if (!wake) return std::move(wake).failure();
  if (wake.value() == platform::Wake::reader_gone) return error_text(os_error_text(EPIPE));
  return ok_outcome();
}

Outcome<void> write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t written;
    KORVANE_RETRY_EINTR(written, ::write(fd, bytes.data(), bytes.size()));
    if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (auto waited = wait_writable(fd); !waited) return waited;
      continue;
    }
    if (written < 0) return error_text(os_error_text(errno));
    if (written == 0) return error_text(os_error_text(EIO));
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return ok_outcome();
}

}  // namespace korvane
