#include "platform/os_error.h"

#include <string.h>

namespace korvane {

std::string os_error_text(int error_number) {
  char buffer[256] = {};
  // The XSI variant fills the buffer; the GNU variant may return a static text instead.
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
  const char* description = strerror_r(error_number, buffer, sizeof buffer);
#else
  const char* description = strerror_r(error_number, buffer, sizeof buffer) == 0 ? buffer : "Unknown error";
#endif
  return std::string(description) + " (os error " + std::to_string(error_number) + ")";
}

}  // namespace korvane
