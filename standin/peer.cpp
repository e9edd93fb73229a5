#include "peer.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "common/posix.h"
#include "platform/descriptors.h"
#include "stop_signal.h"

namespace korvane::standin {
namespace {

// A client that neither sends nor receives for this long is dropped.
constexpr int kIdleLimitMs = 30'000;

}  // namespace

Peer::Peer(UniqueFd socket, int stop_fd) : socket_(std::move(socket)), stop_fd_(stop_fd) {}

IoStatus Peer::wait_for(short events, int timeout_ms) {
  pollfd watched[2] = {{socket_.get(), events, 0}, {stop_fd_, POLLIN, 0}};
  int ready;
  KORVANE_RETRY_EINTR(ready, ::poll(watched, 2, timeout_ms));
  if (stop_requested() || watched[1].revents != 0) return IoStatus::stopped;
  if (ready == 0) return IoStatus::timed_out;
  if (ready < 0) return IoStatus::closed;
  return IoStatus::ok;
}

IoStatus Peer::read_some(std::string& buffer) {
  char chunk[16384];
  for (;;) {
    if (const IoStatus status = wait_for(POLLIN, kIdleLimitMs); status != IoStatus::ok) return status;
    ssize_t got;
    KORVANE_RETRY_EINTR(got, ::recv(socket_.get(), chunk, sizeof chunk, 0));
    if (got > 0) {
      buffer.append(chunk, static_cast<std::size_t>(got));
      return IoStatus::ok;
    }
    if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return IoStatus::closed;
  }
}

IoStatus Peer::write_all(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t sent;
    KORVANE_RETRY_EINTR(sent, platform::send_no_sigpipe(socket_.get(), bytes.data(), bytes.size()));
    if (sent > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(sent));
      continue;
    }
    if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return IoStatus::closed;
    if (const IoStatus status = wait_for(POLLOUT, kIdleLimitMs); status != IoStatus::ok) return status;
  }
  return IoStatus::ok;
}

IoStatus Peer::write_slowly(std::string_view bytes, std::chrono::milliseconds delay) {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (const IoStatus status = write_all(bytes.substr(i, 1)); status != IoStatus::ok) return status;
    if (i + 1 < bytes.size()) {
      if (const IoStatus status = pause(delay); status != IoStatus::ok) return status;
    }
  }
  return IoStatus::ok;
}

IoStatus Peer::pause(std::chrono::milliseconds duration) {
  using Clock = std::chrono::steady_clock;
  const bool forever = duration.count() < 0;
  const Clock::time_point deadline = Clock::now() + duration;
  for (;;) {
    int timeout_ms = -1;
    if (!forever) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return IoStatus::ok;
      timeout_ms = static_cast<int>(std::min<long long>(left.count(), 60'000));
    }
    // The request is complete, so the client becoming readable means it hung up.
    const IoStatus status = wait_for(POLLIN, timeout_ms);
    if (status == IoStatus::ok) return IoStatus::closed;
    if (status != IoStatus::timed_out) return status;
  }
}

void Peer::drain_and_close() {
  ::shutdown(socket_.get(), SHUT_WR);
  std::string discarded;
  for (int round = 0; round < 64 && wait_for(POLLIN, 200) == IoStatus::ok; ++round) {
    discarded.clear();
    if (read_some(discarded) != IoStatus::ok) break;
  }
  socket_.reset();
}

void Peer::reset() {
  const linger abortive{1, 0};
  ::setsockopt(socket_.get(), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
  socket_.reset();
}

}  // namespace korvane::standin
