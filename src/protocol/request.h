// The JSON-RPC request record read from one input line.
#pragma once

#include <string>
#include <string_view>

#include "common/outcome.h"
#include "json/value.h"

namespace korvane {

struct McpRequest {
  std::string jsonrpc;
  json::Value id;  // null when absent
  std::string method;
  json::Value params;  // null when absent
};

// Reads one line into a request; the error is the reader's "<reason> at line L column C".
Outcome<McpRequest> read_request(std::string_view line);

}  // namespace korvane
