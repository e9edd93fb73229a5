// One accepted client connection: bounded, interruptible reads and writes.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "base/outcome.h"
#include "base/unique_fd.h"

namespace korvane::standin {

// Every operation fails when the client closes its side or resets the connection, stays silent
// (or does not read) for too long, or a stop signal arrives; the error text says which.

class Peer {
 public:
  // Takes a non-blocking socket; stop_fd becomes readable when the program must stop.
  Peer(UniqueFd socket, int stop_fd);

  // Appends whatever bytes are available, waiting for some first.
  Outcome<void> read_some(std::string& buffer);

  // Writes all bytes, waiting whenever the socket buffer is full.
  Outcome<void> write_all(std::string_view bytes);

  // Writes one byte at a time with a pause after each.
  Outcome<void> write_slowly(std::string_view bytes, std::chrono::milliseconds delay);

  // Sleeps for the duration (forever when negative) unless the program stops or the client
  // hangs up first; succeeds when the whole duration passed.
  Outcome<void> pause(std::chrono::milliseconds duration);

  // Ends the sending side, then discards what the client still sends (briefly), so that
  // closing does not reset the connection over unread request bytes.
  void drain_and_close();

  // Closes with SO_LINGER 0, so that the client sees a connection reset.
  void reset();

 private:
  enum class Wait { ready, timed_out };
  Outcome<Wait> wait_for(short events, int timeout_ms);
  Outcome<void> wait_active(short events);  // ready, or an error when idle for too long

  UniqueFd socket_;
  int stop_fd_;
};

}  // namespace korvane::standin
