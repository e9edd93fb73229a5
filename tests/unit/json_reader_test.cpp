#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "json/read/reader.h"
#include "json/write/writer.h"

namespace korvane::json {
namespace {

struct ReadCase {
  std::string input;
  std::string expected;  // compact text of the value, or the full error text
};

void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.input; }

std::string read_outcome(std::string_view input) {
  auto value = read_value(input);
  return value ? to_json(value.value()) : value.error();
}

class ReadValue : public testing::TestWithParam<ReadCase> {};

TEST_P(ReadValue, GivesValueOrExactError) { EXPECT_EQ(read_outcome(GetParam().input), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Values, ReadValue,
    testing::Values(ReadCase{" {\"b\":1,\"a\":[true,false,null]} \r\n", R"({"a":[true,false,null],"b":1})"},
                    ReadCase{R"({"a":1,"a":2})", R"({"a":2})"},
                    ReadCase{R"("\u00e9\ud83d\ude00\/\b")", "\"\xc3\xa9\xf0\x9f\x98\x80/\\b\""},
                    ReadCase{"18446744073709551615", "18446744073709551615"},
                    ReadCase{"-9223372036854775808", "-9223372036854775808"},
                    ReadCase{"-9223372036854775809", "-9.223372036854776e+18"},
                    ReadCase{"18446744073709551616", "1.8446744073709552e+19"}, ReadCase{"-0", "-0.0"},
                    ReadCase{"1e400x", "number out of range at line 1 column 5"}, ReadCase{"1e-400", "0.0"},
                    ReadCase{"0e99999999999", "0.0"},
                    ReadCase{"1e99999999999", "number out of range at line 1 column 12"},
                    ReadCase{"-1.5e-99999999999", "-0.0"}, ReadCase{"0.1", "0.1"},
                    ReadCase{R"([{"ab":1,"c":0},{"abc":2,"c":0},{"ab":3,"c":0},{"a\"":4}])",
                             R"([{"ab":1,"c":0},{"abc":2,"c":0},{"ab":3,"c":0},{"a\"":4}])"}));

INSTANTIATE_TEST_SUITE_P(EndOfInput, ReadValue,
                         testing::Values(ReadCase{"", "EOF while parsing a value at line 1 column 0"},
                                         ReadCase{"   ", "EOF while parsing a value at line 1 column 3"},
                                         ReadCase{"[1,", "EOF while parsing a value at line 1 column 3"},
                                         ReadCase{"[1", "EOF while parsing a list at line 1 column 2"},
                                         ReadCase{"{\"a\"", "EOF while parsing an object at line 1 column 4"},
                                         ReadCase{"{\"a\":1", "EOF while parsing an object at line 1 column 6"},
                                         ReadCase{"\"ab", "EOF while parsing a string at line 1 column 3"},
                                         ReadCase{"\"\\u12", "EOF while parsing a string at line 1 column 5"},
                                         ReadCase{"tr", "EOF while parsing a value at line 1 column 2"},
                                         ReadCase{"-", "EOF while parsing a value at line 1 column 1"},
                                         ReadCase{"1.", "EOF while parsing a value at line 1 column 2"},
                                         ReadCase{"1e", "EOF while parsing a value at line 1 column 2"},
                                         ReadCase{R"([{"ab":1},{"ab)",
                                                  "EOF while parsing a string at line 1 column 14"}));

INSTANTIATE_TEST_SUITE_P(Syntax, ReadValue,
                         testing::Values(ReadCase{"hello", "expected value at line 1 column 1"},
                                         ReadCase{"nul", "EOF while parsing a value at line 1 column 3"},
                                         ReadCase{"nulx", "expected ident at line 1 column 4"},
                                         ReadCase{"[1 2]", "expected `,` or `]` at line 1 column 4"},
                                         ReadCase{"{\"a\" 1}", "expected `:` at line 1 column 6"},
                                         ReadCase{"{\"a\":1 \"b\"}", "expected `,` or `}` at line 1 column 8"},
                                         ReadCase{"{1:2}", "key must be a string at line 1 column 2"},
                                         ReadCase{"{,}", "key must be a string at line 1 column 2"},
                                         ReadCase{"[1,]", "trailing comma at line 1 column 4"},
                                         ReadCase{"{\"a\":1,}", "trailing comma at line 1 column 8"},
                                         ReadCase{"{} x", "trailing characters at line 1 column 4"},
                                         ReadCase{"{}\n\n  x", "trailing characters at line 3 column 3"}));

INSTANTIATE_TEST_SUITE_P(Numbers, ReadValue,
                         testing::Values(ReadCase{"01", "invalid number at line 1 column 2"},
                                         ReadCase{"-x", "invalid number at line 1 column 2"},
                                         ReadCase{"1.x", "invalid number at line 1 column 3"},
                                         ReadCase{"1ex", "invalid number at line 1 column 3"},
                                         ReadCase{"1e+", "EOF while parsing a value at line 1 column 3"},
                                         ReadCase{"-1e309", "number out of range at line 1 column 6"},
                                         ReadCase{"[12345678,1234567,123456789012,0.0000000001,-0.10000000001,1.5e1]",
                                                  "[12345678,1234567,123456789012,1e-10,-0.10000000001,15.0]"},
                                         ReadCase{"[123456780 1]", "expected `,` or `]` at line 1 column 12"},
                                         ReadCase{"[1.000000000x]", "expected `,` or `]` at line 1 column 13"}));

INSTANTIATE_TEST_SUITE_P(
    Strings, ReadValue,
    testing::Values(
        ReadCase{"\"a\x01\"", "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 3"},
        ReadCase{"\"\\x\"", "invalid escape at line 1 column 3"},
        ReadCase{"\"\\u12x4\"", "invalid escape at line 1 column 7"},
        ReadCase{"\"\\udc00\"", "lone leading surrogate in hex escape at line 1 column 7"},
        ReadCase{"\"\\ud800x\"", "unexpected end of hex escape at line 1 column 8"},
        ReadCase{"\"\\ud800\\n\"", "unexpected end of hex escape at line 1 column 9"},
        ReadCase{"\"\\ud800\\u0041\"", "lone leading surrogate in hex escape at line 1 column 13"},
        ReadCase{"\"\xff\"", "invalid unicode code point at line 1 column 3"},
        ReadCase{"\"\xed\xa0\x80\"", "invalid unicode code point at line 1 column 5"},
        // inputs of 4096 bytes and more are checked whole first; one that fails is checked string by string
        ReadCase{"[\"" + std::string(5000, 'a') + "\",\"\xc3\xa9\"]",
                 "[\"" + std::string(5000, 'a') + "\",\"\xc3\xa9\"]"},
        ReadCase{"[\"" + std::string(5000, 'a') + "\",\"\xff\"]", "invalid unicode code point at line 1 column 5007"},
        ReadCase{"[\"" + std::string(5000, 'a') + "\"]\xff", "trailing characters at line 1 column 5005"}));

TEST(ReadValueDepth, AllowsOneHundredTwentySevenLevels) {
  std::string inside(127, '[');
  inside += std::string(127, ']');
  EXPECT_TRUE(read_value(inside).ok());
  std::string too_deep(128, '[');
  EXPECT_EQ(read_value(too_deep).error(), "recursion limit exceeded at line 1 column 128");
}

TEST(ReadValueDepth, MillionBracketsStopAtTheLimitWithoutRecursingFurther) {
  EXPECT_EQ(read_value(std::string(1'000'000, '[')).error(), "recursion limit exceeded at line 1 column 128");
}

constexpr FieldSpec kPairFields[] = {
    {"port", FieldKind::kU16, false},
    {"token", FieldKind::kString, false},
};
constexpr RecordSpec kPair = {"Pair", kPairFields};

std::string record_outcome(std::string_view input) {
  FieldValue fields[2];
  if (auto read = read_record(input, kPair, fields); !read) return read.error();
  return to_json(Value{std::get<std::uint16_t>(fields[0]), std::get<std::string>(fields[1])});
}

class ReadRecord : public testing::TestWithParam<ReadCase> {};

TEST_P(ReadRecord, GivesFieldsOrExactError) { EXPECT_EQ(record_outcome(GetParam().input), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Records, ReadRecord,
    testing::Values(
        ReadCase{R"({"token":"t","x":[[[{}]]],"port":80})", R"([80,"t"])"}, ReadCase{R"([65535,""])", R"([65535,""])"},
        ReadCase{R"({"port":65536,"token":"t"})", "invalid value: integer `65536`, expected u16 at line 1 column 13"},
        ReadCase{R"({"port":-1,"token":"t"})", "invalid value: integer `-1`, expected u16 at line 1 column 10"},
        ReadCase{R"({"port":80.0,"token":"t"})",
                 "invalid type: floating point `80.0`, expected u16 at line 1 column 12"},
        ReadCase{R"({"port":"80","token":"t"})", "invalid type: string \"80\", expected u16 at line 1 column 12"},
        ReadCase{R"({"port":80,"token":[]})", "invalid type: sequence, expected a string at line 1 column 19"},
        ReadCase{R"({"port":80})", "missing field `token` at line 1 column 11"},
        ReadCase{R"({"port":80,"port":81})", "duplicate field `port` at line 1 column 17"},
        ReadCase{R"([80])", "invalid length 1, expected struct Pair with 2 elements at line 1 column 4"},
        ReadCase{R"([80,"t",1])", "trailing characters at line 1 column 9"},
        ReadCase{R"([80,"t",])", "trailing comma at line 1 column 9"},
        ReadCase{R"(true)", "invalid type: boolean `true`, expected struct Pair at line 1 column 4"},
        ReadCase{R"({"x":[1,]})", "expected value at line 1 column 9"},
        ReadCase{R"({"x":{"a":1,}})", "key must be a string at line 1 column 13"},
        ReadCase{R"({"x":-})", "invalid number at line 1 column 7"},
        ReadCase{R"({"x":"\ud800"})", "missing field `port` at line 1 column 14"}));

TEST(ReadRecordSkipping, IgnoredMemberHasNoDepthLimit) {
  std::string deep =
      R"({"x":)" + std::string(10'000'000, '[') + std::string(10'000'000, ']') + R"(,"port":1,"token":""})";
  EXPECT_EQ(record_outcome(deep), R"([1,""])");
}

}  // namespace
}  // namespace korvane::json
