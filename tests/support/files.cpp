#include "files.h"

#include <utility>

#include <gtest/gtest.h>

namespace korvane::testing_support {

void write_file(const std::string& path, std::string_view bytes) {
  if (auto written = testkit::write_file(path, bytes); !written) ADD_FAILURE() << written.error();
}

TempDir::TempDir() {
  auto made = testkit::TempDir::create("korvane-test");
  if (!made) {
    ADD_FAILURE() << made.error();
    return;
  }
  made_.emplace(std::move(made).value());
  path_ = made_->path();
}

}  // namespace korvane::testing_support
