#include "platform/os_error.h"

#include <string.h>

namespace korvane {
namespace {

// strerror_r comes in two kinds, and the C library's declaration says which: the XSI one
// returns 0 once it has filled the buffer, the GNU one returns the text, which may be a static
// one instead of the buffer. The result's type picks the reading.
[[maybe_unused]] const char* description(int xsi_result, const char* buffer) {
  return xsi_result == 0 ? buffer : "Unknown error";
}
[[maybe_unused]] const char* description(const char* gnu_result, const char*) { return gnu_result; }

}  // namespace

std::string os_error_text(int error_number) {
  char buffer[256] = {};
  const char* text = description(strerror_r(error_number, buffer, sizeof buffer), buffer);
  return std::string(text) + " (os error " + std::to_string(error_number) + ")";
}

}  // namespace korvane
