#include "diagnostics/trace_path.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "platform/os_error.h"
#include "platform/real_path.h"

namespace korvane::trace {
namespace {

// What is wrong with one folder on the way, or "".
std::string folder_problem(const std::string& folder) {
  struct stat facts {};
  if (::lstat(folder.c_str(), &facts) != 0) return "cannot be examined: " + os_error_text(errno);
  if (!S_ISDIR(facts.st_mode)) return "is not a folder";
  if (facts.st_uid != ::geteuid() && facts.st_uid != 0) {
    return "belongs to another user (uid " + std::to_string(facts.st_uid) + ")";
  }
  if ((facts.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (facts.st_mode & S_ISVTX) == 0) {
    return "is writable by group or others and not sticky, so they could put a file or a link in its place";
  }
  return "";
}

std::string parent_of(const std::string& folder) {
  const std::size_t slash = folder.rfind('/');
  return slash == 0 || slash == std::string::npos ? "/" : folder.substr(0, slash);
}

}  // namespace

TracePlace place_trace_file(const std::string& configured) {
  const std::size_t slash = configured.rfind('/');
  const std::string name = slash == std::string::npos ? configured : configured.substr(slash + 1);
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : configured.substr(0, slash);
  if (name.empty() || name == "." || name == "..") return {"", folder, "is named instead of a file in it"};
  const std::optional<std::string> real = platform::real_path(folder);
  if (!real) return {"", folder, "cannot be resolved: " + os_error_text(errno)};
  for (std::string on_way = *real;; on_way = parent_of(on_way)) {
    if (std::string problem = folder_problem(on_way); !problem.empty()) return {"", on_way, std::move(problem)};
    if (on_way == "/") break;
  }
  return {(*real == "/" ? "" : *real) + "/" + name, "", ""};
}

}  // namespace korvane::trace
