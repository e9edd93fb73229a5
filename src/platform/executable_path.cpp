#include "platform/executable_path.h"

#include <stdlib.h>

#include <cstdint>
#include <memory>

#include "platform/features.h"

#if KORVANE_HAVE_NS_GET_EXECUTABLE_PATH
#include <mach-o/dyld.h>
#endif

namespace korvane::platform {
namespace {

// realpath(3) with the buffer it allocates: absolute, no symbolic link, no "." or "..".
std::optional<std::string> resolved(const char* path) {
  const std::unique_ptr<char, decltype(&::free)> real(::realpath(path, nullptr), &::free);
  if (!real) return std::nullopt;
  return std::string(real.get());
}

}  // namespace

std::optional<std::string> executable_path() {
#if KORVANE_HAVE_NS_GET_EXECUTABLE_PATH
  // dyld(3): _NSGetExecutablePath gives the path the program was started by, which may be
  // relative or run through links; it asks for a larger buffer by returning -1.
  std::uint32_t size = 0;
  (void)::_NSGetExecutablePath(nullptr, &size);
  std::string started_by(size, '\0');
  if (::_NSGetExecutablePath(started_by.data(), &size) != 0) return std::nullopt;
  return resolved(started_by.c_str());
#else
  // proc(5): /proc/self/exe is a link to the program's file, wherever procfs is mounted. Once the
  // file is deleted the link names "<path> (deleted)", which realpath refuses with ENOENT.
  return resolved("/proc/self/exe");
#endif
}

}  // namespace korvane::platform
