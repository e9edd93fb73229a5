#include "diagnostics/trace_record.h"

#include <gtest/gtest.h>

#include <string>

#include "common/utf8.h"
#include "json/value.h"

namespace korvane::trace {
namespace {

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
  TraceRecord record("received", 1'700'000'000'123'456, 42, redactor);
  const std::string line = record.bounded_text(c.value).finish();
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
const std::string kLong(kTextBound + 10, 'a');

INSTANTIATE_TEST_SUITE_P(
    Cases, BoundedText,
    testing::Values(
        BoundCase{"Short", "abc", "", 3},
        BoundCase{"CutAtTheBound", kLong, "", kTextBound},
        // A two-byte character across the bound is left out whole.
        BoundCase{"CharacterAcrossTheBound", std::string(kTextBound - 1, 'a') + "\xc3\xa9" + "zz", "", kTextBound - 1},
        BoundCase{"RawToken", "x" + kToken + "y", kToken, 2 + kRedacted.size()},
        BoundCase{"TokenEscapedInAJsonLine", "{\"t\":\"" + kEscapedToken + "\"}", kToken, 8 + kRedacted.size()},
        // A token across the bound is redacted, not cut in half.
        BoundCase{"TokenAcrossTheBound", std::string(kTextBound - 4, 'a') + kToken + "b", kToken, kTextBound}),
    [](const testing::TestParamInfo<BoundCase>& param_info) { return std::string(param_info.param.name); });

}  // namespace
}  // namespace korvane::trace
