// One accepted client connection: bounded, interruptible reads and writes.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "common/unique_fd.h"

namespace korvane::standin {

enum class IoStatus {
  ok,
  closed,     // the client closed its side or reset the connection
  timed_out,  // the client stayed silent (or did not read) for too long
  stopped,    // a stop signal arrived
};

class Peer {
 public:
  // Takes a non-blocking socket; stop_fd becomes readable when the program must stop.
  Peer(UniqueFd socket, int stop_fd);

  // Appends whatever bytes are available, waiting for some first.
  IoStatus read_some(std::string& buffer);

  // Writes all bytes, waiting whenever the socket buffer is full.
  IoStatus write_all(std::string_view bytes);

  // Writes one byte at a time with a pause after each.
  IoStatus write_slowly(std::string_view bytes, std::chrono::milliseconds delay);

  // Sleeps for the duration (forever when negative) unless the program stops or the client
  // hangs up first; ok when the whole duration passed.
  IoStatus pause(std::chrono::milliseconds duration);

  // Ends the sending side, then discards what the client still sends (briefly), so that
  // closing does not reset the connection over unread request bytes.
  void drain_and_close();

  // Closes with SO_LINGER 0, so that the client sees a connection reset.
  void reset();

 private:
  IoStatus wait_for(short events, int timeout_ms);

  UniqueFd socket_;
  int stop_fd_;
};

}  // namespace korvane::standin
