// Test support shared by every suite: files, temporary directories, hex, lines and JSONL data.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "json/value.h"

namespace korvane::testing_support {

// The whole file as bytes; empty when it cannot be read.
std::string read_file(const std::string& path);
void write_file(const std::string& path, std::string_view bytes);

std::string to_hex(std::string_view bytes);
// Bytes from pairs of hex digits (either case); a trailing odd digit is ignored.
std::string from_hex(std::string_view hex);

// Splits on "\n" only (texts may hold U+2028 and the like); a final "\n" ends the last line.
std::vector<std::string> split_lines(std::string_view text);

// The values of a JSON-lines file in the test data directory, one per non-empty line.
std::vector<json::Value> load_jsonl(std::string_view data_file);

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it at destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }

 private:
  std::string path_;
};

}  // namespace korvane::testing_support
