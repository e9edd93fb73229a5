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

// Appends everything up to the end of the stream; the error is the system's text (ENOMEM's
// when the buffer cannot grow). `expected_size`, when given, is asked after each read what the
// whole stream will measure (0: not known yet) until it tells; the buffer is then sized for it
// at once.
Outcome<void> receive_to_end(const UniqueFd& socket, ByteBuffer& out,
                             std::size_t (*expected_size)(std::string_view received) = nullptr);

}  // namespace korvane
