// The JSON value type shared by every part of the server: objects are maps sorted by key bytes.
#pragma once

#include <nlohmann/json.hpp>

namespace korvane::json {

using Value = nlohmann::json;

}  // namespace korvane::json
