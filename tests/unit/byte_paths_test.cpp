// The byte scanners' paths (a word at a time everywhere, vectors where the CPU has them) must
// give the same answers as a plain byte loop, over the same random inputs.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "common/utf8.h"
#include "json/shared/number_lanes.h"
#include "json/shared/specials.h"
#include "json/shared/string_blocks.h"
#include "platform/wide_utf8.h"

namespace korvane {
namespace {

// Well-formed UTF-8 after the Unicode table of well-formed byte sequences, byte by byte.
bool reference_valid(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    const auto at = [&](std::size_t k) -> unsigned char {
      return i + k < bytes.size() ? static_cast<unsigned char>(bytes[i + k]) : 0;
    };
    const unsigned char lead = at(0);
    int length = lead < 0x80                    ? 1
                 : lead >= 0xC2 && lead <= 0xDF ? 2
                 : lead >= 0xE0 && lead <= 0xEF ? 3
                 : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                : 0;
    if (length == 0 || i + static_cast<std::size_t>(length) > bytes.size()) return false;
    const unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    const unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    for (int k = 1; k < length; ++k) {
      const unsigned char lowest = k == 1 ? low : 0x80, highest = k == 1 ? high : 0xBF;
      if (at(static_cast<std::size_t>(k)) < lowest || at(static_cast<std::size_t>(k)) > highest) return false;
    }
    i += static_cast<std::size_t>(length);
  }
  return true;
}

// Random texts from pieces that sit at every offset of a block: ASCII runs, every length of
// sequence at the edges of its ranges, and bytes that break one.
std::vector<std::string> random_texts(std::uint64_t seed, std::vector<std::string> pieces) {
  std::mt19937_64 random(seed);
  std::vector<std::string> texts;
  for (int round = 0; round < 20000; ++round) {
    std::string text(random() % 40, 'a');
    while (text.size() < static_cast<std::size_t>(random() % 120)) text += pieces[random() % pieces.size()];
    texts.push_back(std::move(text));
  }
  return texts;
}

TEST(Utf8Paths, AgreeWithTheTableOfWellFormedSequences) {
  const std::vector<std::string> pieces = {
      "x", "0123456789abcdef", "\xC2\x80", "\xDF\xBF", "\xE0\xA0\x80", "\xED\x9F\xBF", "\xEE\x80\x80", "\xEF\xBF\xBF",
      "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF", "\xF3\xBF\xBF\xBF", "\xE4\xB8\x80", "\xE2\x80\x94", "\xC3\xA9",
      // broken: lone continuation, overlong, surrogate, above U+10FFFF, never-used and truncated
      "\x80", "\xBF", "\xC0\x80", "\xC1\xBF", "\xE0\x9F\xBF", "\xED\xA0\x80", "\xF0\x8F\xBF\xBF", "\xF4\x90\x80\x80",
      "\xF5", "\xFF", "\xC3", "\xE4\xB8", "\xF0\x90\x80",
      // leads of the old 4- to 6-byte forms followed by continuation bytes
      "\xF5\x80\x80\x80", "\xF8\x88\x80\x80", "\xFC\x8F\xBF\xBF", "\xFF\xBF\xBF\xBF"};
  std::vector<std::string> texts = random_texts(1, pieces);
  for (const std::string cut : {"\xC3", "\xE4", "\xE4\xB8", "\xF0", "\xF0\x90", "\xF0\x90\x80"}) {
    for (std::size_t offset = 0; offset < 64; ++offset)  // cut short by ASCII blocks, ending anywhere in 64 bytes
      texts.push_back(std::string(offset, 'a') + cut + std::string(130, 'b') + "\xE4\xB8\x80");
  }
  int invalid = 0;
  std::mt19937_64 cuts(2);
  for (const std::string& text : texts) {
    const bool expected = reference_valid(text);
    invalid += expected ? 0 : 1;
    ASSERT_EQ(utf8_paths::valid_by_words(text), expected) << testing::PrintToString(text);
#if defined(KORVANE_BYTE_VECTOR)
    ASSERT_EQ(utf8_paths::valid_by_vectors(text), expected) << testing::PrintToString(text);
#endif
    if (platform::has_wide_utf8_check()) {  // also three times over, for blocks that meet anywhere
      ASSERT_EQ(platform::wide_utf8_valid(text.data(), text.size()), expected) << testing::PrintToString(text);
      const std::string thrice = text + text + text;
      ASSERT_EQ(platform::wide_utf8_valid(thrice.data(), thrice.size()), reference_valid(thrice))
          << testing::PrintToString(thrice);
    }
    ASSERT_EQ(is_valid_utf8(text), expected);
    GrowingUtf8Check growing;  // the text as it arrives, cut anywhere
    for (std::size_t size = 0; size < text.size(); size += cuts() % 7)
      growing.grew(std::string_view(text).substr(0, size));
    ASSERT_EQ(growing.whole(text), expected) << testing::PrintToString(text);
  }
  EXPECT_GT(invalid, 2000);
  EXPECT_LT(invalid, 18000);
}

TEST(SpecialPaths, FindTheFirstQuoteBackslashOrControlCharacter) {
  const std::vector<std::string> pieces = {"plain text ", "\xE4\xB8\x80\xE2\x80\x94", "\x7F\x80\xFF ", "\"",
                                           "\\",          std::string(1, '\0'),       "\x1F",          "\n",
                                           " !#[]{}"};
  for (const std::string& text : random_texts(2, pieces)) {
    std::size_t expected = 0;
    while (expected < text.size() && !json::is_special(text[expected])) ++expected;
    ASSERT_EQ(json::special_paths::find_by_words(text.data(), text.size()), expected) << testing::PrintToString(text);
#if defined(KORVANE_BYTE_VECTOR)
    ASSERT_EQ(json::special_paths::find_by_vectors(text.data(), text.size()), expected) << testing::PrintToString(text);
#endif
  }
}

// A string's blocks, one after another: the bits of each byte, and which bytes backslashes escape.
TEST(StringBlockPaths, AgreeWithAByteLoop) {
  const std::vector<std::string> pieces = {"plain ",       "\xE4\xB8\x80",
                                           "\"",           "\\",
                                           "\\\\",         "\\\\\\",
                                           "\\\"",         std::string(1, '\0'),
                                           "\x1F\x7F\xFF", "\\" + std::string(62, 'x')};
  for (std::string text : random_texts(3, pieces)) {
    text.resize((text.size() + 63) / 64 * 64, 'z');
    std::uint64_t carry = 0;
    bool escaping = false;
    for (std::size_t block = 0; block < text.size(); block += 64) {
      json::StringBlock expected{0, 0, 0};
      std::uint64_t expected_escaped = 0;
      for (std::size_t i = 0; i < 64; ++i) {
        const char c = text[block + i];
        const std::uint64_t bit = std::uint64_t{1} << i;
        expected.quotes |= c == '"' ? bit : 0;
        expected.backslashes |= c == '\\' ? bit : 0;
        expected.controls |= static_cast<unsigned char>(c) < 0x20 ? bit : 0;
        expected_escaped |= escaping ? bit : 0;
        escaping = !escaping && c == '\\';
      }
      const json::StringBlock found = json::string_block(text.data() + block);
      ASSERT_EQ(found.quotes, expected.quotes) << testing::PrintToString(text);
      ASSERT_EQ(found.backslashes, expected.backslashes) << testing::PrintToString(text);
      ASSERT_EQ(found.controls, expected.controls) << testing::PrintToString(text);
      ASSERT_EQ(json::escaped_bits(found.backslashes, carry), expected_escaped) << testing::PrintToString(text);
      ASSERT_EQ(carry != 0, escaping) << testing::PrintToString(text);
    }
  }
}

// The run a number may be made of, and its points and exponent bytes, in the sixteen bytes read.
TEST(NumberLanePaths, AgreeWithAByteLoop) {
  const std::vector<std::string> pieces = {"7", "0123456789", ".", "e", "E", "+", "-", ",", "}", " ", "x", "\xC3"};
  for (std::string text : random_texts(4, pieces)) {
    text.resize(16, '0');
    const json::NumberLanes lanes = json::number_lanes(text.data());
    std::size_t size = 0;
    std::uint64_t points = 0, exponent = 0;
    for (; size < 16 && std::string_view("0123456789.eE+-").find(text[size]) != std::string_view::npos; ++size) {
      const std::uint64_t bit = std::uint64_t{1}
                                << (size * json::NumberLanes::kStride + json::NumberLanes::kStride - 1);
      points |= text[size] == '.' ? bit : 0;
      exponent |= size > 0 && std::string_view("eE+-").find(text[size]) != std::string_view::npos ? bit : 0;
    }
    ASSERT_EQ(lanes.size, size) << text;
    ASSERT_EQ(lanes.points, points) << text;
    ASSERT_EQ(lanes.exponent, exponent) << text;
  }
}

}  // namespace
}  // namespace korvane
