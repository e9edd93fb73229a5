#include "diagnostics/trace_record.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "bridge/app_channel.h"
#include "common/quote.h"
#include "common/utf8.h"
#include "json/shared/value.h"
#include "json/write/writer.h"
#include "protocol/response.h"
#include "token_pieces.h"

namespace korvane::trace {
namespace {

using testing_support::kSpellings;
using testing_support::spelled;
using testing_support::Spelling;
using testing_support::token_piece_in;

std::string record_of(const Redactor& redactor, const std::string& value) {
  std::string line;
  TraceRecord record(line, utc_timestamp(1'700'000'000'123'456), 42, "received", redactor);
  record.bounded_text(std::string_view(value).substr(0, redactor.start_for(kTextBound)), value.size());
  record.finish();
  return line;
}

struct BoundCase {
  const char* name;
  std::string value;
  std::string token;
  std::size_t text_size;  // of the recorded text
};

// A record is one valid JSON line whatever is cut or redacted; the length is always the full one.
class BoundedText : public testing::TestWithParam<BoundCase> {};

TEST_P(BoundedText, IsOneJsonLineWithTheFullLength) {
  const BoundCase& c = GetParam();
  Redactor redactor;
  redactor.learn(c.token);
  const std::string line = record_of(redactor, c.value);
  ASSERT_EQ(line.find('\n'), line.size() - 1);
  const json::Value parsed = json::Value::parse(line, nullptr, false);
  ASSERT_TRUE(parsed.is_object()) << line.substr(0, 200);
  EXPECT_EQ(parsed["time"], "2023-11-14T22:13:20.123456Z");
  EXPECT_EQ(parsed["length"], c.value.size());
  const std::string text = parsed["text"].get<std::string>();
  EXPECT_EQ(text.size(), c.text_size);
  EXPECT_TRUE(is_valid_utf8(text));
  if (!c.token.empty()) {
    EXPECT_EQ(text.find(c.token.substr(0, 3)), std::string::npos) << "a piece of the token is left";
  }
}

const std::string kToken = "tok\"en\\1";  // quote and backslash: escaped forms differ
const std::string kEscapedToken = "tok\\\"en\\\\1";
const std::string kWideToken = "k\xf0\x9f\x98\x80/Ey-\x7f\x01Z";  // U+1F600, DEL, a control
const std::string kLong(kTextBound + 10, 'a');
const std::string kLongToken(64, 'f');

INSTANTIATE_TEST_SUITE_P(
    Cases, BoundedText,
    testing::Values(
        BoundCase{"Short", "abc", "", 3}, BoundCase{"CutAtTheBound", kLong, "", kTextBound},
        // A two-byte character across the bound is left out whole.
        BoundCase{"CharacterAcrossTheBound", std::string(kTextBound - 1, 'a') + "\xc3\xa9" + "zz", "", kTextBound - 1},
        BoundCase{"RawToken", "x" + kToken + "y", kToken, 2 + kRedacted.size()},
        BoundCase{"TokenEscapedInAJsonLine", "{\"t\":\"" + kEscapedToken + "\"}", kToken, 8 + kRedacted.size()},
        // Each character escaped another way, a character past the first plane as a surrogate pair.
        BoundCase{"TokenInUpperCaseHex", std::string("{\"t\":\"") + spelled(kToken, Spelling::kUpperHex) + "\"}",
                  kToken, 8 + kRedacted.size()},
        BoundCase{"TokenMixedAndEscapedTwice", std::string("{\"t\":\"") + spelled(kWideToken, Spelling::kTwice) + "\"}",
                  kWideToken, 8 + kRedacted.size()},
        BoundCase{"TokenQuotedInAnErrorText", std::string("x") + quoted_text(kWideToken) + "y", kWideToken,
                  4 + kRedacted.size()},
        // A token across the bound is redacted, not cut in half.
        BoundCase{"TokenAcrossTheBound", std::string(kTextBound - 4, 'a') + kToken + "b", kToken, kTextBound},
        // Tokens longer than the replacement shrink the text before the cut: the one that
        // slides inside is redacted too.
        BoundCase{"LongTokensBeforeTheBound", kLongToken + kLongToken + std::string(kTextBound - 118, 'a') + kLongToken,
                  kLongToken, kTextBound - 88}),
    [](const testing::TestParamInfo<BoundCase>& param_info) { return std::string(param_info.param.name); });

// Tokens of several lengths and kinds (DEL, a control character, a combining mark, quote and
// backslash, slash, dash and upper case), each written in every spelling JSON allows (and some
// mixed), at the start of a text, twice near its start, once in the middle and at every offset
// around the cut, in received lines, in relayed replies and in parse-error texts: no 8 bytes of
// it in a row are recorded, in any writing.
TEST(Redactor, LeavesNoPieceOfTheTokenAroundTheCut) {
  const std::string hex = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
  const std::string tokens[] = {hex.substr(0, 8),
                                hex.substr(0, 20),
                                hex.substr(0, 32),
                                hex,
                                "s3cr\x7f"
                                "t\x01"
                                "q\"b\\e\xcc\x81"
                                "z-0123456789abcdef-\xc3\xa9-0123456789",
                                "Ab/Cd-EF\x7fgh/IJ-kl\x7fMN0123/Zz-Q"};
  for (const std::string& token : tokens) {
    Redactor redactor;
    redactor.learn("an-older-token-0000");
    redactor.learn(token);
    for (const Spelling spelling : kSpellings) {
      const std::string form = spelled(token, spelling);  // as a JSON text holds it
      // Every offset for one spelling; a sample of them, all alignments to the cut, for the others.
      const std::size_t step = spelling == Spelling::kAsWriters ? 1 : 11;
      for (std::size_t offset = kTextBound - 300 - form.size(); offset <= kTextBound + 40; offset += step) {
        std::string body = "{\"a\":\"" + form + form + std::string(offset / 2, 'x') + form;
        body += std::string(offset - body.size(), 'x') + form + "\"}";
        auto literal = parse_app_reply("HTTP/1.1 200 OK\r\n\r\n" + body);
        ASSERT_TRUE(literal);
        const auto failure = parse_app_reply("HTTP/1.1 200 OK\r\n\r\n" + body.substr(0, body.size() - 1));
        ASSERT_FALSE(failure);
        std::string sent_result, sent_error;
        append_response(sent_result, 1, Result(ToolResult{std::move(literal).value()}));
        append_response(sent_error, 1, error_text(failure.error()));
        for (const std::string& text :
             {"{\"params\":" + body + "}", body.substr(6), sent_result, sent_error, failure.error()}) {
          const std::string line = record_of(redactor, text);
          ASSERT_EQ(token_piece_in(line, token), "")
              << "offset " << offset << ", token of " << token.size() << ", spelling " << static_cast<int>(spelling);
          std::string whole_scratch, start_scratch;
          // Given the start the writer hands over, the record is what the whole text gives.
          ASSERT_EQ(redactor.redact(text, kTextBound, whole_scratch),
                    redactor.redact(std::string_view(text).substr(0, redactor.start_for(kTextBound)), kTextBound,
                                    start_scratch, text.size() <= redactor.start_for(kTextBound)));
        }
      }
    }
  }
}

}  // namespace
}  // namespace korvane::trace
