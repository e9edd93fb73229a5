// Routing one tools/call to the desktop app.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/outcome.h"
#include "json/compact_literal.h"
#include "json/value.h"

namespace korvane {

// KORVANE_SESSION_ID when set, valid UTF-8 and not blank; the value is returned untrimmed.
std::optional<std::string> caller_session_id();

// The app request body for a tool, or "unknown tool: ..." / "missing ..." texts.
Outcome<json::Value> app_request_body(std::string_view name, json::Value arguments,
                                      const std::optional<std::string>& session_id);

// Reads the socket info, routes, exchanges with the app and gives its reply, ready to be
// written as the text of a tool result.
Outcome<json::CompactLiteral> handle_tool_call(std::string_view name, json::Value arguments);

}  // namespace korvane
