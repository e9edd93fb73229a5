#include "platform/temporary_directory.h"

#include <unistd.h>

#include "platform/features.h"

namespace korvane::platform {

bool has_user_temporary_directory() { return KORVANE_HAVE_CS_DARWIN_USER_TEMP_DIR != 0; }

std::optional<std::string> user_temporary_directory() {
#if KORVANE_HAVE_CS_DARWIN_USER_TEMP_DIR
  const std::size_t size = ::confstr(_CS_DARWIN_USER_TEMP_DIR, nullptr, 0);
  if (size > 0) {
    std::string directory(size, '\0');
    if (::confstr(_CS_DARWIN_USER_TEMP_DIR, directory.data(), size) == size) {
      directory.resize(size - 1);  // drop the terminating NUL
      return directory;
    }
  }
#endif
  return std::nullopt;
}

}  // namespace korvane::platform
