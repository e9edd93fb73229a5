// Answering one input line: reading the request, the version check, and the answer the
// method table gives.
#pragma once

#include <string_view>

#include "protocol/request.h"
#include "protocol/response.h"

namespace korvane {

// Gives the result for a request's method; the layer above binds the methods.
using MethodTable = ResultOutcome (*)(const McpRequest& request, ResponseWriter& out);

// Handles one non-empty input line and queues its answer, if one is due, in `out`. A request
// without an id is carried out but not answered.
void handle_line(std::string_view line, MethodTable methods, ResponseWriter& out);

}  // namespace korvane
