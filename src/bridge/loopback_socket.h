// A blocking TCP connection to 127.0.0.1 with whole-buffer writes and read-to-end.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/byte_buffer.h"
#include "common/outcome.h"

namespace korvane {

// Owns a file descriptor and closes it when it goes out of scope.
class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd();

  int get() const { return fd_; }
  int release();

 private:
  int fd_;
};

// A close-on-exec stream socket connected to 127.0.0.1:port, whose writes never raise
// SIGPIPE; the error is the system's "... (os error N)" text.
Outcome<UniqueFd> connect_loopback(std::uint16_t port);

// Writes all bytes, resuming after partial writes; nullopt on success, else the error text
// ("failed to write whole buffer" when the socket accepts nothing).
std::optional<std::string> send_all(const UniqueFd& socket, std::string_view bytes);

// Appends everything up to the end of the stream; nullopt on success, else the error text.
std::optional<std::string> receive_to_end(const UniqueFd& socket, ByteBuffer& out);

}  // namespace korvane
