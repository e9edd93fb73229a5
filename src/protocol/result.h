// What the result of a request is written from: a JSON value, JSON text serialised once for
// the whole run, or a tool's result.
#pragma once

#include <string_view>
#include <variant>

#include "common/byte_buffer.h"
#include "base/outcome.h"
#include "json/value.h"

namespace korvane {

// An answer that never changes, serialised once; the text lives as long as the process.
struct ConstantJson {
  std::string_view text;
};

// A tool call's result, {"content":[{"text":<reply>,"type":"text"}]}: its one text content is
// the app's reply in compact form, held as the JSON string literal it is written as.
struct ToolResult {
  ByteBuffer reply_literal;
};

using Result = std::variant<json::Value, ConstantJson, ToolResult>;

// A result, or an error text written as a JSON-RPC error.
using ResultOutcome = Outcome<Result>;

}  // namespace korvane
