#include "testkit/files.h"

#include <stdlib.h>
#include <unistd.h>  // mkdtemp on macOS (glibc declares it in <stdlib.h>)

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "common/posix.h"
#include "common/whole_file.h"

namespace korvane::testkit {

std::string read_file(const std::string& path) {
  auto content = read_whole_file(path);
  return content ? std::move(content).value() : std::string();
}

Outcome<void> write_file(const std::string& path, std::string_view bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!file) return error_text("cannot write " + path);
  return ok_outcome();
}

std::vector<std::string> split_lines(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    lines.emplace_back(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  return lines;
}

// A test that loops over the vectors of a missing or empty file would pass on nothing: stop the
// whole suite instead.
std::vector<json::Value> load_jsonl(std::string_view data_file) {
  const std::string path = KORVANE_TEST_DATA_DIR "/" + std::string(data_file);
  std::vector<json::Value> values;
  for (const std::string& line : split_lines(read_file(path))) {
    if (!line.empty()) values.push_back(json::Value::parse(line));
  }
  if (values.empty()) {
    std::fprintf(stderr, "no vectors read from %s\n", path.c_str());
    std::abort();
  }
  return values;
}

Outcome<TempDir> TempDir::create(std::string_view prefix) {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/" + std::string(prefix) + "-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) return error_text("mkdtemp " + pattern + ": " + os_error_text(errno));
  return TempDir(std::move(pattern));
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace korvane::testkit
