// SIGTERM and SIGINT become a readable pipe, so every wait can end cleanly on a stop request.
#pragma once

#include "base/outcome.h"

namespace korvane::standin {

// Installs the stop handlers and ignores SIGPIPE; returns the pipe end that becomes readable
// once a stop signal arrived.
Outcome<int> install_stop_signals();

// True once SIGTERM or SIGINT was received.
bool stop_requested();

}  // namespace korvane::standin
