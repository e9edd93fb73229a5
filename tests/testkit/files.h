// Files, temporary directories, lines and JSONL data for the tests and the benchmark.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/outcome.h"
#include "json/shared/value.h"

namespace korvane::testkit {

// The whole file as bytes; empty when it cannot be read.
std::string read_file(const std::string& path);
// Creates or truncates the file and writes the bytes; "cannot write PATH" when that fails.
Outcome<void> write_file(const std::string& path, std::string_view bytes);

// Splits on "\n" only (texts may hold U+2028 and the like); a final "\n" ends the last line.
std::vector<std::string> split_lines(std::string_view text);

// The values of a JSON-lines file in the test data directory, one per non-empty line.
std::vector<json::Value> load_jsonl(std::string_view data_file);

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it at destruction.
class TempDir {
 public:
  // mkdtemp(3) of "<TMPDIR>/<prefix>-XXXXXX".
  static Outcome<TempDir> create(std::string_view prefix);
  TempDir(TempDir&& other) noexcept : path_(std::exchange(other.path_, std::string())) {}
  TempDir& operator=(TempDir&&) = delete;
  ~TempDir();

  const std::string& path() const { return path_; }
  std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }

 private:
  explicit TempDir(std::string path) : path_(std::move(path)) {}

  std::string path_;
};

}  // namespace korvane::testkit
