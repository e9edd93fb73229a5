// Test support shared by every suite: the test kit's files, hex, lines and JSONL data, with a
// file that cannot be written or a directory that cannot be made failing the test.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "testkit/files.h"

namespace korvane::testing_support {

using testkit::load_jsonl;
using testkit::read_file;
using testkit::split_lines;

void write_file(const std::string& path, std::string_view bytes);
// The bytes of the hex digits; digits that are not hex fail the test.
std::string from_hex(std::string_view hex);

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it at destruction.
class TempDir {
 public:
  TempDir();

  std::string path() const { return made_ ? made_->path() : std::string(); }
  std::string file(std::string_view name) const { return path() + "/" + std::string(name); }

 private:
  std::optional<testkit::TempDir> made_;
};

}  // namespace korvane::testing_support
