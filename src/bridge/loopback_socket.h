// A TCP connection to 127.0.0.1 with whole-buffer writes and read-to-end. The socket is
// non-blocking and every wait on it watches standard output: when nobody reads the answers any
// more, the wait notes standard output as unwritable (common/stdout_failure.h) and fails with
// EPIPE's text.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/outcome.h"
#include "base/unique_fd.h"
#include "common/byte_buffer.h"

namespace korvane {

// A close-on-exec, non-blocking TCP socket, not yet connected, whose writes never raise SIGPIPE.
Outcome<UniqueFd> open_stream_socket();

// A close-on-exec stream socket connected to 127.0.0.1:port, whose writes never raise
// SIGPIPE; the error is the system's "... (os error N)" text.
Outcome<UniqueFd> connect_loopback(std::uint16_t port);

// Writes `first` and then `second`, resuming after partial writes, in as few sends as the socket
// takes: a request's head and body go out together, so that no small send waits on the peer's
// acknowledgement of the one before (Nagle's algorithm). The error is the system's text, or
// "failed to write whole buffer" when the socket accepts nothing; `written` counts the bytes
// that went out.
Outcome<void> send_all(const UniqueFd& socket, std::string_view first, std::string_view second, std::size_t& written);

// Follows a stream as it arrives, told after each read everything received so far.
class StreamWatcher {
 public:
  // What the whole stream will measure, once that can be told (0: not yet); asked until it tells.
  virtual std::size_t expected_size(std::string_view received) = 0;
  // The buffer holds what has been received; the watcher may use the room after it.
  virtual void received(ByteBuffer& buffer) = 0;

 protected:
  ~StreamWatcher() = default;
};

// Appends everything up to the end of the stream; the error is the system's text (ENOMEM's
// when the buffer cannot grow). The buffer is sized at once for what the watcher, when given,
// expects.
Outcome<void> receive_to_end(const UniqueFd& socket, ByteBuffer& out, StreamWatcher* watcher = nullptr);

}  // namespace korvane
