// Writes the seed corpora of the fuzz targets from the test data files:
//   korvane_fuzz_seeds <data dir> <output dir>
// request and handle_line get the request lines; socket_info the socket-info files; quote the
// reply bodies; value all three.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/hex.h"

namespace {

namespace fs = std::filesystem;

// One member of every line of a JSON Lines file, hex-decoded when `hex` is set.
bool read_member(const fs::path& file, const char* member, bool hex, std::vector<std::string>& out) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::cerr << "cannot open " << file << "\n";
    return false;
  }
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    const auto record = nlohmann::json::parse(line, nullptr, false);
    if (record.is_discarded() || !record.contains(member) || !record[member].is_string()) {
      std::cerr << file << ": a line without a string \"" << member << "\"\n";
      return false;
    }
    std::string text = record[member].get<std::string>();
    if (!hex) {
      out.push_back(std::move(text));
      continue;
    }
    auto bytes = korvane::decode_hex(text);
    if (!bytes) {
      std::cerr << file << ": \"" << member << "\": " << bytes.error() << "\n";
      return false;
    }
    out.push_back(std::move(bytes).value());
  }
  return true;
}

bool write_corpus(const fs::path& dir, const std::vector<std::string>& inputs) {
  fs::create_directories(dir);
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "seed-%05zu", i);
    std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
    out.write(inputs[i].data(), static_cast<std::streamsize>(inputs[i].size()));
    if (!out) {
      std::cerr << "cannot write " << (dir / name) << "\n";
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: korvane_fuzz_seeds <data dir> <output dir>\n";
    return 2;
  }
  const fs::path data = argv[1];
  const fs::path output = argv[2];
  std::vector<std::string> lines, files, bodies;
  if (!read_member(data / "request-lines.jsonl", "input", false, lines) ||
      !read_member(data / "socket-info.jsonl", "file_hex", true, files) ||
      !read_member(data / "reply-bodies.jsonl", "body_hex", true, bodies)) {
    return 1;
  }
  std::vector<std::string> all = lines;
  all.insert(all.end(), files.begin(), files.end());
  all.insert(all.end(), bodies.begin(), bodies.end());
  const bool written = write_corpus(output / "request", lines) && write_corpus(output / "handle_line", lines) &&
                       write_corpus(output / "socket_info", files) && write_corpus(output / "quote", bodies) &&
                       write_corpus(output / "value", all);
  return written ? 0 : 1;
}
