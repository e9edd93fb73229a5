#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "json/relay/literal_scalars.h"
#include "json/write/writer.h"
#include "platform/float_chars.h"

namespace korvane::json {
namespace {

struct DoubleCase {
  double value;
  const char* text;
};

class WriteDouble : public testing::TestWithParam<DoubleCase> {};

TEST_P(WriteDouble, UsesShortestDigitsAndTheExponentThresholds) {
  std::string out;
  append_double(out, GetParam().value);
  EXPECT_EQ(out, GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Doubles, WriteDouble,
    testing::Values(DoubleCase{0.0, "0.0"}, DoubleCase{-0.0, "-0.0"}, DoubleCase{100.0, "100.0"},
                    DoubleCase{2.5, "2.5"}, DoubleCase{-2.5, "-2.5"}, DoubleCase{0.1, "0.1"},
                    DoubleCase{0.00001, "0.00001"}, DoubleCase{1e-6, "1e-6"}, DoubleCase{1.5e-7, "1.5e-7"},
                    DoubleCase{1e15, "1000000000000000.0"}, DoubleCase{1e16, "1e+16"},
                    DoubleCase{123456789012345678901234567890.0, "1.2345678901234568e+29"},
                    DoubleCase{5e-324, "5e-324"}, DoubleCase{1.7976931348623157e308, "1.7976931348623157e+308"},
                    DoubleCase{3.141592653589793, "3.141592653589793"}, DoubleCase{123.456, "123.456"},
                    DoubleCase{1234567890123456.7, "1234567890123456.8"}));

TEST(WriteJson, SortsKeysByteWiseAndWritesCompactly) {
  Value value = Value::parse(R"({"b":[1,{"z":null,"a":true}],"B":-3,"\u00e9":"x","a":18446744073709551615})");
  EXPECT_EQ(to_json(value),
            "{\"B\":-3,\"a\":18446744073709551615,\"b\":[1,{\"a\":true,\"z\":null}],\"\xc3\xa9\":\"x\"}");
}

TEST(WriteJson, EscapesOnlyQuoteBackslashAndControlCharacters) {
  std::string out;
  append_json_string(out, std::string("\"\\/\b\f\n\r\t\x01\x1f\x7f\xc3\xa9\0", 14));
  EXPECT_EQ(out, "\"\\\"\\\\/\\b\\f\\n\\r\\t\\u0001\\u001f\x7f\xc3\xa9\\u0000\"");
}

}  // namespace
}  // namespace korvane::json

namespace korvane::json {
namespace {

// Writing a number straight from its digits must give what parsing and writing the double gives.
TEST(WriteNumberText, AgreesWithWritingTheParsedDouble) {
  std::mt19937_64 random(20261208);
  const char* fixed[] = {"0.5",
                         "-0.0",
                         "0.000",
                         "1e2",
                         "1E+2",
                         "12.50e-3",
                         "0.00001",
                         "1.0e-6",
                         "123456789012345",
                         "1234567890123456",
                         "9.99999999999999e15",
                         "1e15",
                         "1e16",
                         "-7.25e-300",
                         "5e-301",
                         "00.1",
                         "3.141592653589793",
                         "0.1e1",
                         "100e-2"};
  std::vector<std::string> cases(std::begin(fixed), std::end(fixed));
  for (int i = 0; i < 20000; ++i) {
    std::string digits = std::to_string(random() % 1'000'000'000'000'000ULL);
    const std::size_t point = random() % (digits.size() + 1);
    std::string text = random() % 2 ? "-" : "";
    text.append(point == 0 ? "0" : digits.substr(0, point));
    text.append(".").append(digits.substr(point)).append("0");
    if (random() % 2) text.append("e").append(std::to_string(static_cast<int>(random() % 640) - 320));
    cases.push_back(text);
  }
  for (const std::string& text : cases) {
    const double value = std::strtod(text.c_str(), nullptr);
    if (!std::isfinite(value)) continue;  // the reader rejects these as out of range
    std::string fast, slow;
    const bool exact = append_number_text_shortest(fast, text);
    append_double(slow, value);
    if (exact) {
      ASSERT_EQ(fast, slow) << text;
    } else {
      ASSERT_EQ(fast, "") << text;
    }
  }
}

// A float the relay copies as it reads it must be exactly what writing its double gives.
TEST(WriteNumberText, WrittenFormIsWhatWritingTheDoubleGives) {
  std::mt19937_64 random(11);
  int copied = 0;
  for (int i = 0; i < 50000; ++i) {
    const auto digits = [&](std::size_t count) {
      std::string text;
      for (std::size_t k = 0; k < count; ++k) text += static_cast<char>('0' + random() % 10);
      return text;
    };
    std::string text = random() % 2 ? "-" : "";
    if (random() % 3 == 0) {
      text += '0';
    } else {
      text += static_cast<char>('1' + random() % 9);
      text += digits(random() % 17);
    }
    text += '.';
    text += digits(1 + random() % 17);
    if (random() % 8 == 0) text.append("e").append(std::to_string(static_cast<int>(random() % 40) - 20));
    std::string written;
    append_double(written, std::strtod(text.c_str(), nullptr));
    detail::ScalarText scanned{};
    const std::string with_slack = text + std::string(detail::kSlack, '\0');  // as the writer reads it
    (void)detail::scan_scalar(with_slack.data(), with_slack.data() + text.size(), scanned);
    if (scanned.kind == detail::WrittenAs::kCopied) {
      ASSERT_EQ(written, text);
      ++copied;
    }
  }
  EXPECT_GT(copied, 5000);
}

}  // namespace
}  // namespace korvane::json

namespace korvane::json {
namespace {

std::string reference_escape(std::string_view text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", c);
          out += escape;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

// Long texts go through a block-wise path: specials at every offset and block boundary.
TEST(WriteJson, EscapesLongTextsLikeShortOnes) {
  std::mt19937 random(7);
  const std::string alphabet = std::string("ab\"\\\n\x01\x1f\x7f \xc3\xa9", 12);
  for (int round = 0; round < 3000; ++round) {
    std::string text(random() % 80, 'x');
    for (char& c : text) {
      if (random() % 4 == 0) c = alphabet[random() % alphabet.size()];
    }
    std::string out = "prefix";
    append_json_string(out, text);
    ASSERT_EQ(out, "prefix" + reference_escape(text)) << round;
  }
}

}  // namespace
}  // namespace korvane::json

// The portable shortest-digits search (libraries without to_chars for doubles) must agree with
// to_chars digit for digit, powers of two and subnormals included.
TEST(ShortestDoubleDigits, SearchAgreesWithTheLibrary) {
  std::mt19937_64 random(7);
  std::vector<double> values = {1.0, 0.1, 5e-324, 2.2250738585072014e-308, 1.7976931348623157e308, 9007199254740993.0};
  for (int exponent = -1074; exponent <= 1023; ++exponent) values.push_back(std::ldexp(1.0, exponent));
  for (int i = 0; i < 50000; ++i) {
    double value;
    const std::uint64_t bits = random();
    std::memcpy(&value, &bits, sizeof value);
    if (std::isfinite(value) && value != 0) values.push_back(value);
  }
  for (double value : values) {
    char buffer[32];
    const std::string expected(buffer, korvane::platform::double_to_shortest_chars(buffer, value));
    const std::string searched(buffer, korvane::platform::double_to_shortest_chars_by_search(buffer, value));
    ASSERT_EQ(std::strtod(searched.c_str(), nullptr), value);
    // Compare digits and the exponent's value: the two may pad the exponent differently.
    ASSERT_EQ(expected.substr(0, expected.find('e')), searched.substr(0, searched.find('e'))) << value;
    ASSERT_EQ(std::atoi(expected.c_str() + expected.find('e') + 1),
              std::atoi(searched.c_str() + searched.find('e') + 1))
        << value;
  }
}
