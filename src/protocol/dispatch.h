// Answering one input line: reading, version check and the method table.
#pragma once

#include <optional>
#include <string_view>

#include "json/value.h"
#include "protocol/response.h"

namespace korvane {

// What one line asks the loop to write: nothing, or a response for an id.
struct Reply {
  json::Value id;
  ToolOutcome outcome;
};

// Handles one non-empty input line; tools/call is carried out even when no answer is due.
std::optional<Reply> handle_line(std::string_view line);

}  // namespace korvane
