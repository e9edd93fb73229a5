// The stand-in desktop app serving one prebuilt reply body, and a direct fetch from it.
#pragma once

#include <string>

#include "base/outcome.h"
#include "process.h"
#include "stats.h"

namespace korvane::bench {

// Starts the stand-in app replying with the bytes of `body_path`; returns once it has published
// `socket_info` and listens. It exits when its stdin is closed (Child::finish).
Outcome<Child> start_app(const std::string& binary, const std::string& socket_info, const std::string& body_path,
                         const std::string& stderr_path);

// Times `runs` direct HTTP fetches of the app's reply (milliseconds each): what a relay costs at least.
Outcome<Samples> fetch_directly(const std::string& socket_info, std::size_t body_bytes, int runs);

}  // namespace korvane::bench
