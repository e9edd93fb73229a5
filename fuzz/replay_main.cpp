// Runs a fuzz target over the inputs it is given, once each, without libFuzzer: the seed corpora
// and the committed regression inputs become plain tests, built with any compiler (the sanitizer
// build too) and run under a cross build's emulator.
//   <target>_replay PATH...     each PATH a file or a folder of inputs (read in sorted order)
// Exits 0 after replaying at least one input; a broken property aborts in the target, and no input
// at all, or a path that cannot be read, is a failure.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

namespace fs = std::filesystem;

// The files a path names: itself, or a folder's regular files in sorted order.
bool collect_inputs(const fs::path& path, std::vector<fs::path>& inputs) {
  std::error_code error;
  if (fs::is_regular_file(path, error)) {
    inputs.push_back(path);
    return true;
  }
  std::vector<fs::path> found;
  for (fs::directory_iterator entry(path, error), end; !error && entry != end; entry.increment(error)) {
    if (entry->is_regular_file(error)) found.push_back(entry->path());
  }
  if (error) {
    std::cerr << "replay: cannot read " << path.string() << ": " << error.message() << "\n";
    return false;
  }
  std::sort(found.begin(), found.end());
  inputs.insert(inputs.end(), found.begin(), found.end());
  return true;
}

bool replay(const fs::path& input) {
  std::ifstream file(input, std::ios::binary);
  const std::vector<char> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  if (!file.eof() && file.fail()) {
    std::cerr << "replay: cannot read " << input.string() << "\n";
    return false;
  }
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    if (!collect_inputs(argv[i], inputs)) return 1;
  }
  if (inputs.empty()) {
    std::cerr << "replay: no input found\n";
    return 1;
  }
  for (const fs::path& input : inputs) {
    if (!replay(input)) return 1;
  }
  std::cout << "replayed " << inputs.size() << " inputs\n";
  return 0;
}
