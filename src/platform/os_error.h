// Errno texts in the "... (os error N)" form that every error text uses.
#pragma once

#include <string>

namespace korvane {

// The system's description of an errno value followed by " (os error N)".
std::string os_error_text(int error_number);

}  // namespace korvane
