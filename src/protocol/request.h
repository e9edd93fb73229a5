// The JSON-RPC request record read from one input line.
#pragma once

#include <string>
#include <string_view>

#include "base/outcome.h"
#include "json/shared/value.h"

namespace korvane {

// `params` is kept as the JSON text it is in the line (checked as strictly as reading it would
// check it), so that methods that never look at it build nothing from it.
struct McpRequest {
  std::string jsonrpc;
  json::Value id;  // null when absent
  std::string method;
  std::string_view params = "null";  // a view of the line; "null" when absent
};

// Reads one line into a request; the error is the reader's "<reason> at line L column C".
Outcome<McpRequest> read_request(std::string_view line);

}  // namespace korvane
