// Writing JSON-RPC responses, one compact line each.
#pragma once

#include <string>

#include "common/outcome.h"
#include "json/value.h"

namespace korvane {

using ToolOutcome = Outcome<json::Value>;

// Every error on the wire carries this code.
inline constexpr int kErrorCode = -32000;

// Appends the response line for an id and an outcome, with its final "\n".
void append_response(std::string& out, const json::Value& id, const ToolOutcome& outcome);

// Writes the response line to standard output in one go; a line that cannot be held in memory
// is replaced by the out-of-memory answer. A failed write ends the process with a diagnostic
// on standard error and status 1.
void write_response(json::Value id, ToolOutcome outcome);

}  // namespace korvane
