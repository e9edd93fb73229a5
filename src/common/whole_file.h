// Reading a whole file through one descriptor: opened without blocking (a FIFO or a device
// cannot hold the caller up), judged by fstat on that same descriptor (nothing can be swapped
// in between), and read no further than a bound (a growing or endless file cannot balloon).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/outcome.h"

namespace korvane {

// What reading a file came to; every value but kRead is a refusal.
enum class FileVerdict {
  kRead,              // passed every check and was read whole
  kOpenFailed,        // open() failed: error_number holds its errno
  kStatFailed,        // fstat() failed: error_number
  kNotRegular,        // a directory, FIFO, device or socket
  kTooLarge,          // over the bound, by its size or by what reading it found
  kForeignOwner,      // owned by neither the effective user nor root
  kWritableByOthers,  // every user may write it (S_IWOTH)
  kReadFailed,        // read() failed: error_number
};

struct FileRules {
  std::size_t max_bytes = SIZE_MAX;  // a larger file is refused
  bool owner_checked = false;        // owned by the effective user or root, not writable by others
};

struct WholeFile {
  FileVerdict verdict = FileVerdict::kOpenFailed;
  int error_number = 0;  // errno of a failed open, fstat or read
  std::string content;   // the bytes, when verdict is kRead
  // What fstat reported on the opened descriptor; meaningful when stat_known.
  bool stat_known = false;
  mode_t mode = 0;
  uid_t owner = 0;
  std::uint64_t size = 0;
};

// Opens with O_RDONLY | O_NONBLOCK | O_CLOEXEC (EINTR retried), checks a regular file within
// the rules, and reads it whole.
WholeFile read_whole_file(const std::string& path, const FileRules& rules);

// The content of a regular file of any size and owner, or "PATH: " and why it was refused.
Outcome<std::string> read_whole_file(const std::string& path);

// Why a file was refused, for a person: "open: No such file or directory (os error 2)",
// "not a regular file (a directory)", "owned by uid 65534, neither you (uid 1000) nor root"...
// Empty for kRead.
std::string describe_refusal(const WholeFile& file, const FileRules& rules);

// "0644": the permission bits of an st_mode in octal.
std::string octal_mode(mode_t mode);

// "a regular file", "a directory", "a FIFO", "a character device"... for an st_mode.
const char* file_type_name(mode_t mode);

}  // namespace korvane
