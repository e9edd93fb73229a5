#include "platform/real_path.h"

#include <stdlib.h>

#include <memory>

namespace korvane::platform {

std::optional<std::string> real_path(const std::string& path) {
  const std::unique_ptr<char, decltype(&::free)> real(::realpath(path.c_str(), nullptr), &::free);
  if (!real) return std::nullopt;
  return std::string(real.get());
}

}  // namespace korvane::platform
