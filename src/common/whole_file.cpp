#include "common/whole_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <utility>

#include "base/unique_fd.h"
#include "common/posix.h"

namespace korvane {
namespace {

constexpr std::size_t kChunk = 64 * 1024;

// The first check the file fails, or kRead when it passes them all.
FileVerdict judge(const struct stat& facts, const FileRules& rules) {
  if (!S_ISREG(facts.st_mode)) return FileVerdict::kNotRegular;
  if (static_cast<std::uint64_t>(facts.st_size) > rules.max_bytes) return FileVerdict::kTooLarge;
  if (rules.owner_checked) {
    if (facts.st_uid != ::geteuid() && facts.st_uid != 0) return FileVerdict::kForeignOwner;
    if ((facts.st_mode & S_IWOTH) != 0) return FileVerdict::kWritableByOthers;
  }
  return FileVerdict::kRead;
}

// Reads to the end, or to one byte past the bound; 0 or the errno of a failed read.
int read_bounded(int fd, std::size_t size_hint, std::size_t max_bytes, std::string& out) {
  // One byte more than the bound shows a file that grew past it while being read.
  const std::size_t limit = max_bytes == SIZE_MAX ? SIZE_MAX : max_bytes + 1;
  // Room for what fstat reported and one byte more, so that a file that keeps its size is
  // read with no growth at all.
  out.resize(std::min(size_hint, max_bytes) + 1);
  std::size_t used = 0;
  for (;;) {
    if (used == out.size()) {
      if (used >= limit) break;
      out.resize(std::min(limit, std::max(used * 2, used + kChunk)));
    }
    ssize_t got = 0;
    KORVANE_RETRY_EINTR(got, ::read(fd, out.data() + used, out.size() - used));
    if (got < 0) return errno;
    if (got == 0) break;
    used += static_cast<std::size_t>(got);
  }
  out.resize(used);
  return 0;
}

}  // namespace

WholeFile read_whole_file(const std::string& path, const FileRules& rules) {
  WholeFile file;
  int raw = -1;
  KORVANE_RETRY_EINTR(raw, ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  const UniqueFd fd(raw);
  if (!fd.valid()) {
    file.error_number = errno;
    return file;
  }
  struct stat facts {};
  if (::fstat(fd.get(), &facts) != 0) {
    file.verdict = FileVerdict::kStatFailed;
    file.error_number = errno;
    return file;
  }
  file.stat_known = true;
  file.mode = facts.st_mode;
  file.owner = facts.st_uid;
  file.size = static_cast<std::uint64_t>(facts.st_size);
  file.verdict = judge(facts, rules);
  if (file.verdict != FileVerdict::kRead) return file;
  if (const int failure = read_bounded(fd.get(), static_cast<std::size_t>(file.size), rules.max_bytes, file.content)) {
    file.verdict = FileVerdict::kReadFailed;
    file.error_number = failure;
  } else if (file.content.size() > rules.max_bytes) {
    file.verdict = FileVerdict::kTooLarge;
  }
  if (file.verdict != FileVerdict::kRead) file.content.clear();
  return file;
}

const char* file_type_name(mode_t mode) {
  if (S_ISREG(mode)) return "a regular file";
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a file";
}

std::string octal_mode(mode_t mode) {
  char text[16];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

Outcome<std::string> read_whole_file(const std::string& path) {
  constexpr FileRules kAnyFile{};
  WholeFile file = read_whole_file(path, kAnyFile);
  if (file.verdict != FileVerdict::kRead) return error_text(path + ": " + describe_refusal(file, kAnyFile));
  return std::move(file.content);
}

std::string describe_refusal(const WholeFile& file, const FileRules& rules) {
  switch (file.verdict) {
    case FileVerdict::kRead: return "";
    case FileVerdict::kOpenFailed: return "open: " + os_error_text(file.error_number);
    case FileVerdict::kStatFailed: return "fstat: " + os_error_text(file.error_number);
    case FileVerdict::kNotRegular: return std::string("not a regular file (") + file_type_name(file.mode) + ")";
    case FileVerdict::kTooLarge: return "larger than " + std::to_string(rules.max_bytes) + " bytes";
    case FileVerdict::kForeignOwner:
      return "owned by uid " + std::to_string(file.owner) + ", neither you (uid " + std::to_string(::geteuid()) +
             ") nor root";
    case FileVerdict::kWritableByOthers: return "writable by every user (mode " + octal_mode(file.mode) + ")";
    case FileVerdict::kReadFailed: return "read: " + os_error_text(file.error_number);
  }
  return "";
}

}  // namespace korvane
