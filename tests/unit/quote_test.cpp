#include "common/quote.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "common/hex.h"
#include "files.h"
#include "json/shared/value.h"

namespace korvane {
namespace {

using json::Value;

struct QuoteCase {
  std::string_view name;
  std::string_view bytes;
  std::string_view expected;
};

void PrintTo(const QuoteCase& quote_case, std::ostream* os) { *os << quote_case.name; }

class QuoteTest : public testing::TestWithParam<QuoteCase> {};

TEST_P(QuoteTest, QuotesBytes) { EXPECT_EQ(quoted_text(GetParam().bytes), GetParam().expected); }

std::string case_name(const testing::TestParamInfo<QuoteCase>& param_info) {
  return std::string(param_info.param.name);
}

using namespace std::string_view_literals;

INSTANTIATE_TEST_SUITE_P(
    Escapes, QuoteTest,
    testing::Values(
        QuoteCase{"Empty", "", R"("")"}, QuoteCase{"BackslashEscapes", "\0\t\r\n\\\""sv, R"("\0\t\r\n\\\"")"},
        QuoteCase{"ApostropheAsIs", "it's", R"("it's")"},
        QuoteCase{"OtherControls", "\x01\x1b\x1f", R"("\u{1}\u{1b}\u{1f}")"},
        QuoteCase{"Delete", "a\x7f", R"("a\u{7f}")"},
        QuoteCase{"C1ControlAndNoBreakSpace", "\u0085\u00a0", R"("\u{85}\u{a0}")"},
        QuoteCase{"CombiningAcute", "e\u0301", R"("e\u{301}")"}, QuoteCase{"SoftHyphen", "\u00ad", R"("\u{ad}")"},
        QuoteCase{"ZeroWidthSpace", "\u200b", R"("\u{200b}")"}, QuoteCase{"ZeroWidthJoiner", "\u200d", R"("\u{200d}")"},
        QuoteCase{"LineAndParagraphSeparators", "\u2028\u2029", R"("\u{2028}\u{2029}")"},
        QuoteCase{"IdeographicSpace", "\u3000", R"("\u{3000}")"},
        QuoteCase{"PrivateUse", "\ue000\U000F0000", R"("\u{e000}\u{f0000}")"},
        QuoteCase{"Unassigned", "\u0378\U0010FFFF", R"("\u{378}\u{10ffff}")"},
        QuoteCase{"VariationSelector", "\u2764\ufe0f", "\"\u2764\\u{fe0f}\""},
        QuoteCase{"PrintableNonAscii", "caf\u00e9 \u2014 \u65e5\u672c", "\"caf\u00e9 \u2014 \u65e5\u672c\""},
        QuoteCase{"EmojiAsIs", "\U0001F600", "\"\U0001F600\""},
        QuoteCase{"ReplacementCharacterAsIs", "\ufffd", "\"\ufffd\""}),
    case_name);

// Each maximal invalid subpart becomes one U+FFFD.
INSTANTIATE_TEST_SUITE_P(
    InvalidUtf8, QuoteTest,
    testing::Values(QuoteCase{"LoneContinuation", "a\x80z", "\"a\ufffdz\""},
                    QuoteCase{"TruncatedTwoByte", "\xc3", "\"\ufffd\""},
                    QuoteCase{"TruncatedThreeByte", "\xe2\x82", "\"\ufffd\""},
                    QuoteCase{"TruncatedFourByte", "\xf0\x9f\x98", "\"\ufffd\""},
                    QuoteCase{"TruncatedThenAscii", "\xe2\x82x", "\"\ufffdx\""},
                    QuoteCase{"TruncatedThenValid", "\xf0\x9f\x98\xc3\xa9", "\"\ufffd\u00e9\""},
                    QuoteCase{"TruncatedThenQuote", "\xc3\"", "\"\ufffd\\\"\""},
                    QuoteCase{"OverlongTwoByte", "\xc0\xaf", "\"\ufffd\ufffd\""},
                    QuoteCase{"OverlongThreeByte", "\xe0\x80\xaf", "\"\ufffd\ufffd\ufffd\""},
                    QuoteCase{"OverlongFourByte", "\xf0\x8f\xbf\xbf", "\"\ufffd\ufffd\ufffd\ufffd\""},
                    QuoteCase{"EncodedSurrogate", "\xed\xa0\x80", "\"\ufffd\ufffd\ufffd\""},
                    QuoteCase{"AboveMaximum", "\xf4\x90\x80\x80", "\"\ufffd\ufffd\ufffd\ufffd\""},
                    QuoteCase{"BytesF5ToFF", "\xf5\xf8\xfe\xff", "\"\ufffd\ufffd\ufffd\ufffd\""},
                    QuoteCase{"ValidBoundaries", "\xed\x9f\xbb\xf4\x8f\xbf\xbf", "\"\ud7fb\\u{10ffff}\""}),
    case_name);

TEST(QuoteTest, AppendsAfterExistingText) {
  std::string out = "raw=";
  append_quoted(out, "a\nb");
  EXPECT_EQ(out, R"(raw="a\nb")");
}

TEST(DecodeHex, GivesTheBytesOrSaysWhatIsWrong) {
  const struct {
    std::string_view hex, bytes, error;
  } cases[] = {{"", "", ""},
               {"00fFa5", std::string_view("\0\xff\xa5", 3), ""},
               {"abc", "", "odd number of hex digits"},
               {"0g", "", "not a hex digit at column 1"},
               {"00 1", "", "not a hex digit at column 3"}};
  for (const auto& c : cases) {
    const auto decoded = decode_hex(c.hex);
    EXPECT_EQ(decoded ? decoded.value() : decoded.error(), decoded ? c.bytes : c.error) << c.hex;
    EXPECT_EQ(decoded.ok(), c.error.empty()) << c.hex;
  }
}

TEST(QuoteVectors, ReplyBodyParseErrorsQuoteTheBody) {
  constexpr std::string_view kRawMarker = " -- raw=";
  std::size_t checked = 0;
  for (const Value& vector : testing_support::load_jsonl("reply-bodies.jsonl")) {
    if (!vector.contains("error")) continue;
    const auto error = vector.at("error").get<std::string>();
    const auto marker = error.find(kRawMarker);
    ASSERT_NE(marker, std::string::npos) << error;
    const auto body_hex = vector.at("body_hex").get<std::string>();
    EXPECT_EQ(quoted_text(testing_support::from_hex(body_hex)), error.substr(marker + kRawMarker.size()))
        << "body_hex=" << body_hex;
    ++checked;
  }
  EXPECT_EQ(checked, 1423u);  // every reply body the reader refuses
}

// Request lines that are a single JSON string are rejected with that string quoted.
TEST(QuoteVectors, StringRequestLinesQuoteTheString) {
  constexpr std::string_view kPrefix = "parse: invalid type: string ";
  constexpr std::string_view kSuffix = ", expected struct McpRequest";
  std::size_t checked = 0;
  for (const Value& vector : testing_support::load_jsonl("request-lines.jsonl")) {
    const Value input = Value::parse(vector.at("input").get<std::string>(), nullptr, false);
    if (!input.is_string()) continue;
    const Value output = Value::parse(vector.at("output").get<std::string>());
    const auto message = output.at("error").at("message").get<std::string>();
    ASSERT_EQ(message.rfind(kPrefix, 0), 0u) << message;
    const auto end = message.rfind(kSuffix);
    ASSERT_NE(end, std::string::npos) << message;
    EXPECT_EQ(quoted_text(input.get<std::string>()), message.substr(kPrefix.size(), end - kPrefix.size()));
    ++checked;
  }
  EXPECT_EQ(checked, 16u);  // every request line that is a string nlohmann reads
}

}  // namespace
}  // namespace korvane
