// The opt-in trace: with KORVANE_MCP_TRACE=/path/file the server appends one JSON record per
// line to that file for every line received, every response written and every tool call's
// exchange with the app. The token never appears in it (every known form of it is replaced by
// "<redacted>"). Without the variable each hook costs one branch on a cached flag.
//
// Tracing never changes what goes to stdout or stderr and never ends the process: a file that
// cannot be opened or written silently turns tracing off. The file is created with mode 0600
// and opened append-only, close-on-exec and without following a symbolic link at the last
// component. An existing file is used only when it is a regular file owned by the effective
// user, with a single link, and none of stdin, stdout or stderr; permissions for group and
// others are then taken away.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "bridge/app_channel.h"
#include "bridge/socket_info.h"
#include "json/value.h"

namespace korvane::trace {

namespace detail {
extern bool g_on;  // set once by start(); cleared for good when the file fails
void received(std::string_view line);
void sent(std::string_view head, std::size_t length);
void stdout_failed(std::string_view reason);
void input_ended();
}  // namespace detail

// Reads KORVANE_MCP_TRACE once and opens the file; call once at start, before any hook.
void start();

inline bool on() { return detail::g_on; }

// The loop's hooks: a line read from stdin (without its line break), a response line written
// to stdout (its first bytes, at least as many as a record holds, and its length, both without
// the line break), a failed write to stdout, and the end of input.
inline void line_received(std::string_view line) {
  if (on()) detail::received(line);
}
inline void response_written(std::string_view head, std::size_t length) {
  if (on()) detail::sent(head, length);
}
inline void stdout_failed(std::string_view reason) {
  if (on()) detail::stdout_failed(reason);
}
inline void input_ended() {
  if (on()) detail::input_ended();
}

// One tool call, written as one "app" record by finish(). Every member is a no-op when
// tracing is off.
class AppCall {
 public:
  explicit AppCall(std::string_view tool) : tool_(tool) {
    if (on()) started_ = std::chrono::steady_clock::now();
  }

  // The socket-info file the call read and what came of it; its token is learnt for redaction.
  void socket_info(const std::string& path, const SocketInfoProbe& probe) {
    if (on()) note_socket_info(path, probe);
  }

  // Where post_to_app reports the exchange; nullptr when tracing is off.
  ExchangeFacts* exchange() {
    if (!on()) return nullptr;
    exchanged_ = true;
    return &facts_;
  }

  template <typename T>
  void finish(const Outcome<T>& outcome) {
    if (on()) write_record(outcome.ok() ? nullptr : &outcome.error());
  }

 private:
  void note_socket_info(const std::string& path, const SocketInfoProbe& probe);
  void write_record(const std::string* error);

  std::string_view tool_;
  std::chrono::steady_clock::time_point started_{};
  std::string path_;
  std::string problem_;
  std::optional<std::uint16_t> port_;
  bool exchanged_ = false;
  ExchangeFacts facts_;
};

}  // namespace korvane::trace
