// One exchange with the app under time limits, for --check: it must never hang.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/outcome.h"
#include "common/unique_fd.h"

namespace korvane {

using Milliseconds = std::chrono::milliseconds;

// A socket connected to 127.0.0.1:port within the time limit; the error is the system's
// "... (os error N)" text or "no connection within N ms".
Outcome<UniqueFd> connect_within(std::uint16_t port, Milliseconds limit);

// Writes the head, then the body, and reads the reply until the app closes the connection,
// all within the time limit and keeping at most max_reply bytes of the reply. nullopt on
// success; else the failure, prefixed as the server prefixes it ("write head: ",
// "write body: ", "read: "). A reply longer than max_reply ends the read early, unflagged:
// the caller sees max_reply bytes.
std::optional<std::string> exchange_within(const UniqueFd& socket, std::string_view head, std::string_view body,
                                           Milliseconds limit, std::size_t max_reply, std::string& reply);

}  // namespace korvane
