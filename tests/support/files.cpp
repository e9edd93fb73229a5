#include "files.h"

#include <utility>

#include <gtest/gtest.h>

#include "common/hex.h"

namespace korvane::testing_support {

void write_file(const std::string& path, std::string_view bytes) {
  if (auto written = testkit::write_file(path, bytes); !written) ADD_FAILURE() << written.error();
}

std::string from_hex(std::string_view hex) {
  auto bytes = decode_hex(hex);
  if (!bytes) ADD_FAILURE() << bytes.error() << ": " << hex;
  return bytes ? std::move(bytes).value() : std::string();
}

TempDir::TempDir() {
  auto made = testkit::TempDir::create("korvane-test");
  if (!made) {
    ADD_FAILURE() << made.error();
    return;
  }
  made_.emplace(std::move(made).value());
}

}  // namespace korvane::testing_support
