#include "common/byte_buffer.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>

namespace korvane {
namespace {

// The bytes held survive dropping the front, growing past the capacity (a small block and a
// large one) and draining another buffer in, which is left empty.
TEST(ByteBuffer, KeepsItsBytesThroughADroppedFrontGrowthAndDraining) {
  for (const std::size_t size : {std::size_t{100}, std::size_t{6} << 20}) {
    std::string text(size, ' ');
    for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + i % 26);
    ByteBuffer buffer;
    buffer.append(text);
    buffer.drop_front(7);
    ByteBuffer other;
    other.append("[" + text);
    buffer.append_draining(other, 1);
    buffer.push_back('!');
    EXPECT_EQ(buffer.view(), text.substr(7) + text + "!") << size;
    EXPECT_EQ(other.size(), 0u);
  }
}

}  // namespace
}  // namespace korvane
