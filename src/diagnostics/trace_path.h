// Where the trace file may lie: the folders on its way are checked as OpenSSH checks those of a
// key file, so that no other user can put a file or a symbolic link where the trace goes.
#pragma once

#include <string>

namespace korvane::trace {

struct TracePlace {
  std::string path;     // the file's folder as its real path, and the file's name ("" when refused)
  std::string folder;   // the folder found wanting, or the folder part when it could not be resolved
  std::string problem;  // what is wrong with that folder ("is not a folder", ...); "" when none is
};

// Resolves the folder part of `configured` (symbolic links, "." and ".."; the current folder for
// a bare name) and checks each folder of the real path up to "/": it must be a folder owned by
// the effective user or root, and not writable by group or others unless it is sticky (as /tmp
// is, where nobody may remove or rename another's file). The last component is not resolved: the
// file is opened without following a link there.
TracePlace place_trace_file(const std::string& configured);

}  // namespace korvane::trace
