// One exchange with the app under time limits, for --check: it must never hang.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/outcome.h"
#include "base/unique_fd.h"

namespace korvane {

using Milliseconds = std::chrono::milliseconds;

// A socket connected to 127.0.0.1:port within the time limit; the error is the system's
// "... (os error N)" text or "no connection within N ms".
Outcome<UniqueFd> connect_within(std::uint16_t port, Milliseconds limit);

// A reply as far as it was read.
struct AppReply {
  std::string bytes;
  bool whole = true;  // false: the reply went on past the bytes kept
};

// Writes the head, then the body, and reads the reply until the app closes the connection,
// all within the time limit and keeping at most max_reply bytes of the reply (a longer reply
// ends the read early, with `whole` false). The failure is prefixed as the server prefixes it
// ("write head: ", "write body: ", "read: ").
Outcome<AppReply> exchange_within(const UniqueFd& socket, std::string_view head, std::string_view body,
                                  Milliseconds limit, std::size_t max_reply);

}  // namespace korvane
