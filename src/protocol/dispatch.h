// Answering one input line: reading, version check and the method table.
#pragma once

#include <string_view>

#include "protocol/response.h"

namespace korvane {

// Handles one non-empty input line and queues its answer, if one is due, in `out`. A tool
// call is carried out even when no answer is due; the answers queued before it are written
// first, since it may wait long for the app.
void handle_line(std::string_view line, ResponseWriter& out);

}  // namespace korvane
