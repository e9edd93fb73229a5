#include "peer.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "common/posix.h"
#include "platform/descriptors.h"
#include "stop_signal.h"

namespace korvane::standin {
namespace {

// A client that neither sends nor receives for this long is dropped.
constexpr int kIdleLimitMs = 30'000;

constexpr const char* kClosed = "the client closed the connection";
constexpr const char* kIdle = "the client stayed idle too long";
constexpr const char* kStopped = "stop requested";

}  // namespace

Peer::Peer(UniqueFd socket, int stop_fd) : socket_(std::move(socket)), stop_fd_(stop_fd) {}

Outcome<Peer::Wait> Peer::wait_for(short events, int timeout_ms) {
  pollfd watched[2] = {{socket_.get(), events, 0}, {stop_fd_, POLLIN, 0}};
  int ready;
  KORVANE_RETRY_EINTR(ready, ::poll(watched, 2, timeout_ms));
  if (stop_requested() || watched[1].revents != 0) return error_text(kStopped);
  if (ready < 0) return error_text(kClosed);
  return ready == 0 ? Wait::timed_out : Wait::ready;
}

Outcome<void> Peer::wait_active(short events) {
  auto waited = wait_for(events, kIdleLimitMs);
  if (!waited) return error_text(std::move(waited).take_error());
  if (waited.value() == Wait::timed_out) return error_text(kIdle);
  return ok_outcome();
}

Outcome<void> Peer::read_some(std::string& buffer) {
  char chunk[16384];
  for (;;) {
    if (auto ready = wait_active(POLLIN); !ready) return ready;
    ssize_t got;
    KORVANE_RETRY_EINTR(got, ::recv(socket_.get(), chunk, sizeof chunk, 0));
    if (got > 0) {
      buffer.append(chunk, static_cast<std::size_t>(got));
      return ok_outcome();
    }
    if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return error_text(kClosed);
  }
}

Outcome<void> Peer::write_all(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t sent;
    KORVANE_RETRY_EINTR(sent, platform::send_no_sigpipe(socket_.get(), bytes.data(), bytes.size()));
    if (sent > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(sent));
      continue;
    }
    if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return error_text(kClosed);
    if (auto ready = wait_active(POLLOUT); !ready) return ready;
  }
  return ok_outcome();
}

Outcome<void> Peer::write_slowly(std::string_view bytes, std::chrono::milliseconds delay) {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (auto written = write_all(bytes.substr(i, 1)); !written) return written;
    if (i + 1 < bytes.size()) {
      if (auto paused = pause(delay); !paused) return paused;
    }
  }
  return ok_outcome();
}

Outcome<void> Peer::pause(std::chrono::milliseconds duration) {
  using Clock = std::chrono::steady_clock;
  const bool forever = duration.count() < 0;
  const Clock::time_point deadline = Clock::now() + duration;
  for (;;) {
    int timeout_ms = -1;
    if (!forever) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return ok_outcome();
      timeout_ms = static_cast<int>(std::min<long long>(left.count(), 60'000));
    }
    // The request is complete, so the client becoming readable means it hung up.
    auto waited = wait_for(POLLIN, timeout_ms);
    if (!waited) return error_text(std::move(waited).take_error());
    if (waited.value() == Wait::ready) return error_text(kClosed);
  }
}

void Peer::drain_and_close() {
  ::shutdown(socket_.get(), SHUT_WR);
  std::string discarded;
  for (int round = 0; round < 64; ++round) {
    const auto waited = wait_for(POLLIN, 200);
    if (!waited || waited.value() != Wait::ready) break;
    discarded.clear();
    if (!read_some(discarded)) break;
  }
  socket_.reset();
}

void Peer::reset() {
  const linger abortive{1, 0};
  ::setsockopt(socket_.get(), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
  socket_.reset();
}

}  // namespace korvane::standin
