// Routing one tools/call to the desktop app.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "base/outcome.h"
#include "bridge/app_channel.h"
#include "bridge/socket_info.h"
#include "json/relay/compact_literal.h"
#include "json/shared/value.h"

namespace korvane {

// KORVANE_SESSION_ID when set, valid UTF-8 and not blank; the value is returned untrimmed.
std::optional<std::string> caller_session_id();

// The app request body for a tool, or "unknown tool: ..." / "missing ..." texts.
Outcome<json::Value> app_request_body(std::string_view name, json::Value arguments,
                                      const std::optional<std::string>& session_id);

// Reads the socket info, routes, exchanges with the app and gives its reply, ready to be
// written as the text of a tool result.
Outcome<json::CompactLiteral> handle_tool_call(std::string_view name, json::Value arguments);

// What one tool call came to, as its observer sees it.
struct ToolCallFacts {
  std::string_view tool;
  const std::string& socket_info_path;
  const SocketInfoProbe& socket_info;  // what reading that file came to (its token included)
  const ExchangeFacts* exchange;       // nullptr when nothing was sent to the app
  const std::string* error;            // the call's error text; nullptr when it succeeded
  std::chrono::microseconds duration;
};

// Watches tool calls; main installs the trace as one.
class ToolCallObserver {
 public:
  // A call starts: the observer lets go of any descriptor it holds, so that a watched call
  // needs no more descriptors than one nobody watches.
  virtual void call_starting() = 0;
  // A call ended. May throw std::bad_alloc: the call's outcome stands as it is.
  virtual void call_finished(const ToolCallFacts& facts) = 0;

 protected:
  ~ToolCallObserver() = default;
};

// Every tool call from now on is shown to the observer; nullptr for none.
void watch_tool_calls(ToolCallObserver* observer);

}  // namespace korvane
