// Reply bodies that come from files: --body-file and --replies.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/outcome.h"

namespace korvane::standin {

// One body per line: the line's hex digits, or a JSON object line whose "body_hex" holds them
// (so conformance vector files can be replayed as they are). An empty line is an empty body;
// a final line break does not start another body.
Outcome<std::vector<std::string>> parse_reply_bodies(std::string_view text);

}  // namespace korvane::standin
