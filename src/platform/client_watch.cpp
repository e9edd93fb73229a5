#include "platform/client_watch.h"

#include <poll.h>
#include <unistd.h>

#include "platform/features.h"
#if KORVANE_HAVE_KQUEUE
#include <sys/event.h>
#include <sys/time.h>
#endif

#include <cstdint>

#include "base/eintr.h"
#include "base/unique_fd.h"
#include "platform/os_error.h"

namespace korvane::platform {
namespace {

// How long a watching wait sleeps at most before it looks at the watched descriptor again.
constexpr int kWatchIntervalMs = 1000;

}  // namespace

#if KORVANE_HAVE_KQUEUE

// kqueue(2) (macOS, the BSDs): EVFILT_WRITE "will set EV_EOF when the reader disconnects" (pipes, FIFOs,
// sockets). A descriptor the filter does not support (a vnode: a regular file) comes back with
// EV_ERROR, which is not a missing reader. The queue lives for one question only.
bool reader_gone(int fd) {
  if (fd < 0) return false;
  const UniqueFd queue(::kqueue());
  if (!queue.valid()) return false;
  struct kevent change {};
  change.ident = static_cast<std::uintptr_t>(fd);
  change.filter = EVFILT_WRITE;
  change.flags = EV_ADD;
  struct kevent event {};
  const timespec no_wait{0, 0};
  int count = 0;
  KORVANE_RETRY_EINTR(count, ::kevent(queue.get(), &change, 1, &event, 1, &no_wait));
  return count == 1 && (event.flags & EV_ERROR) == 0 && (event.flags & EV_EOF) != 0;
}

#else

// poll(2) (Linux): a pipe or FIFO without a reader reports POLLERR and a socket whose peer
// has closed reports POLLHUP, whatever events were asked for; a closed descriptor reports only
// POLLNVAL, and regular files and /dev/null report neither.
bool reader_gone(int fd) {
  if (fd < 0) return false;
  pollfd entry{fd, 0, 0};
  int count = 0;
  KORVANE_RETRY_EINTR(count, ::poll(&entry, 1, 0));
  return count == 1 && (entry.revents & (POLLERR | POLLHUP)) != 0;
}

#endif

Outcome<Wake> wait_ready(int fd, Io io, int watched) {
  pollfd entry{fd, static_cast<short>(io == Io::read ? POLLIN : POLLOUT), 0};
  const int timeout_ms = watched < 0 ? -1 : kWatchIntervalMs;
  for (;;) {
    const int count = ::poll(&entry, 1, timeout_ms);
    if (count < 0 && errno != EINTR) return error_text(os_error_text(errno));
    if (watched >= 0 && reader_gone(watched)) return Wake::reader_gone;
    if (count > 0) return Wake::ready;
  }
}

}  // namespace korvane::platform
