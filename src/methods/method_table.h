// The method table: what answers initialize, tools/list and tools/call.
#pragma once

#include "protocol/request.h"
#include "protocol/response.h"

namespace korvane {

// The result for one request's method. A tool call flushes `out` first, since it may wait
// long for the app.
ResultOutcome answer_method(const McpRequest& request, ResponseWriter& out);

}  // namespace korvane
