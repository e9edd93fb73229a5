// A blocking TCP connection to 127.0.0.1 with whole-buffer writes and read-to-end.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/byte_buffer.h"
#include "common/outcome.h"
#include "common/unique_fd.h"

namespace korvane {

// A close-on-exec stream socket connected to 127.0.0.1:port, whose writes never raise
// SIGPIPE; the error is the system's "... (os error N)" text.
Outcome<UniqueFd> connect_loopback(std::uint16_t port);

// Writes all bytes, resuming after partial writes; nullopt on success, else the error text
// ("failed to write whole buffer" when the socket accepts nothing).
std::optional<std::string> send_all(const UniqueFd& socket, std::string_view bytes);

// Appends everything up to the end of the stream; nullopt on success, else the error text.
// `expected_size`, when given, is asked after each read what the whole stream will measure
// (0: not known yet) until it tells; the buffer is then sized for it at once.
std::optional<std::string> receive_to_end(const UniqueFd& socket, ByteBuffer& out,
                                          std::size_t (*expected_size)(std::string_view received) = nullptr);

}  // namespace korvane
