// What the result of a request is written from: a JSON value, JSON text serialised once for
// the whole run, or a tool's result.
#pragma once

#include <string_view>
#include <variant>

#include "base/outcome.h"
#include "json/relay/compact_literal.h"
#include "json/shared/value.h"

namespace korvane {

// An answer that never changes, serialised once; the text lives as long as the process.
struct ConstantJson {
  std::string_view text;
};

// A tool call's result, {"content":[{"text":<reply>,"type":"text"}]}: its one text content is
// the app's reply in compact form, written as a JSON string literal when the line goes out.
struct ToolResult {
  json::CompactLiteral reply;
};

using Result = std::variant<json::Value, ConstantJson, ToolResult>;

// A result, or an error text written as a JSON-RPC error.
using ResultOutcome = Outcome<Result>;

}  // namespace korvane
