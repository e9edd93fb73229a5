// The fixed catalogue of tools offered to the agent.
#pragma once

#include "json/value.h"

namespace korvane {

// The array of the 22 tool descriptors in catalogue order, built afresh.
json::Value tool_definitions();

}  // namespace korvane
