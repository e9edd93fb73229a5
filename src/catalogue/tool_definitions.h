// The fixed catalogue of tools offered to the agent.
#pragma once

#include <string>

#include "json/shared/value.h"

namespace korvane {

// The array of the 22 tool descriptors in catalogue order, built afresh.
json::Value tool_definitions();

// The result of tools/list, {"tools":[...]}, as compact JSON text: the same text as the
// descriptors written by the JSON writer, built from plain strings only.
std::string tools_list_text();

}  // namespace korvane
