// Holding back the signals that ask the server to end while an answer is being written.
#pragma once

namespace korvane::platform {

// How long a signal to end waits for the line being written before it takes effect anyway: a
// client that asks the server to end and stops reading (or an app that stops sending the reply
// being relayed) must not keep the process alive.
inline constexpr unsigned kLineGraceSeconds = 3;

// While one lives, SIGTERM, SIGINT and SIGHUP are noted instead of ending the process at once:
// the process ends by the first of them when the last one is destroyed, so the lines written in
// between are finished (a client reads lines, and a torn one would be the last thing it saw), or
// kLineGraceSeconds after the signal came if that is sooner. The first one made catches those
// signals where their action is the default (one the parent set to be ignored stays ignored);
// caught outside a hold, they end the process at once, as before. One thread; errno is kept.
class TerminationHeldBack {
 public:
  TerminationHeldBack() noexcept;
  ~TerminationHeldBack();
  TerminationHeldBack(const TerminationHeldBack&) = delete;
  TerminationHeldBack& operator=(const TerminationHeldBack&) = delete;
};

}  // namespace korvane::platform
