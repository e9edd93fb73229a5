// The relay's reading of a reply: the quick check, the compact literal and its writer agree with
// the exact reader and the value tree on every text, errors included.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <utility>

#include "common/byte_buffer.h"
#include "files.h"
#include "json/read/reader.h"
#include "json/relay/compact_literal.h"
#include "json/relay/outline.h"
#include "json/relay/plain_key_order.h"
#include "json/relay/quick_check.h"
#include "json/write/writer.h"

namespace korvane::json {
namespace {

// The compact reader must agree with reading a value and writing it, errors included.
std::string via_tree(std::string_view input) {
  auto value = read_value(input);
  return value ? to_json(value.value()) : value.error();
}
// The string-literal form must hold exactly the compact text.
std::string via_literal(std::string_view input) {
  auto literal = read_compact_literal(input);
  return literal ? Value::parse(literal.value().text()).get<std::string>() : literal.error();
}

class ReadCompact : public testing::TestWithParam<std::string> {};

// Strings whose escapes fall at every place of a 16-byte block, alone and in runs.
std::string escapes_at_every_offset() {
  const std::string_view escapes[] = {R"(\")", R"(\\)", R"(\n)", R"(\"\\)"};
  std::string text = R"({"e":[)";
  for (std::size_t run = 0; run < 34; ++run) {
    text += (run == 0 ? "\"" : ",\"") + std::string(run, 'x') + std::string(escapes[run % 4]) + "y\"";
  }
  return text + R"(],"f":"\\\"\\"})";
}

TEST_P(ReadCompact, AgreesWithTheValueTree) { EXPECT_EQ(via_literal(GetParam()), via_tree(GetParam())); }

// The quick check accepts what the exact reading accepts, with the same outline; also with room
// after the text, where it reads numbers a word at a time.
void expect_parts_agree(std::string_view text, std::size_t step, std::size_t sure_before);

void expect_quick_check_agrees(const std::string& input) {
  for (const std::string& text : {input, input + std::string(24, ' ')}) {
    detail::TextOutline quick, exact;
    detail::Cursor in(text);
    const bool accepted = detail::read_outline(in, exact);
    ASSERT_EQ(detail::quick_check(text, quick), accepted) << text;
    if (accepted) {
      EXPECT_TRUE(quick == exact) << text;
    }
    // Read in parts that stop at nearly every value, cut every few bytes.
    if (text.size() > 4096) continue;
    for (const std::size_t sure_before : {8, 24}) {
      for (const std::size_t step : {1, 5}) expect_parts_agree(text, step, sure_before);
    }
  }
}

TEST_P(ReadCompact, QuickCheckAgreesWithTheExactReading) { expect_quick_check_agrees(GetParam()); }

INSTANTIATE_TEST_SUITE_P(
    Orders, ReadCompact,
    testing::Values(
        R"({"b":1,"a":2})", R"({"a":1,"a":2})", R"({"b":{"y":[{"d":1,"c":2}],"x":0},"a":[]})",
        R"({"k":1,"j":{"z":1},"k":{"b":2,"a":1},"j":3})", R"([{"\u0062":1,"a":2,"b":3}])",
        R"({"é":1,"z":2,"Z":3,"":4})", R"({"a":1,"b":2,"a":3,"c":4,"b":5})", "  [1, 2.50, -0, 1e400 ",
        R"({"a":"\ud83d\ude00\n","b":"\u0000"})", R"({"a":[1,{"b":2,"a":)",
        "[-1.5e-99999999999,1e-99999999999,-0,-18446744073709551616,0.1000,1.5E+3]",
        R"({"z":[1,2,3,4,5,6,7,8],"a":1,"z":0})", R"({"m":"long long long","b":{"y":1,"x":2},"a":[]})",
        R"({"b":1,"a":"big big big big","c":2,"b":{"d":[{"f":1,"e":2}]}})", R"({"c":3,"c":2,"c":1})",
        R"({"q\"":"a\\b\"c\n","\u00e9\t":["\/\u0001"],"p":"plain"})",
        // records with the same keys in a row reuse their order
        R"([{"b":1,"a":2},{"b":3,"a":4},{"b":5,"a":6,"c":7},{"b":1,"b":2,"a":0},{"b":1,"b":2,"a":0},{"b":{"d":1,"c":2},"a":1},{"b":0,"a":1},{"bb":0,"a":1}])",
        // a key read as the one at its place in the object before only when its bytes end there
        R"([{"ab":1,"":2},{"ab":3,"":4},{"abc":5,"":6},{"a\u0062":7},{"ab":8,"":9,"zz":0},{"ab")",
        R"([{"long key name":1,"b":2},{"long key name":3,"b":4},{"long key nam":5,"b\"":6}])",
        // keys longer than 8 bytes that share their first 8 are compared in full
        R"({"descriptor":1,"description":2,"descript":3,"descriptions":[{"descriptor":4,"description":5}]})",
        // records read at once: each kind of string and number, as a member's value, and empty
        // objects after an ordered one
        R"([{"b":"x\"y","a":1},{"b":"\/\u00e9","a":2.50},{"b":"\\","a":-0},{"b":"","a":1e2},{"b":"z","a":0.1}])",
        R"([{"k":{"b":1,"a":2}},{"k":{"b":3,"a":4}},{"k":{"b":5,"a":[6]}},{"k":{"b":7, "a":8}}])",
        R"({"x":{"b":1,"a":2},"y":{"a":{}},"z":[{"b":1,"a":2},{"c":{}},{"b":1}]})", escapes_at_every_offset()));

// Rows of records, with strings that look like row boundaries, and errors in the last row.
INSTANTIATE_TEST_SUITE_P(
    Rows, ReadCompact,
    testing::Values(R"([{"b":1,"a":"x},{y"},{"b":2,"a":[1,2]},{"a":3}])",
                    R"({"z":0,"lines":[{"t":"a","c":0.5},{"t":"\u00e9\"","c":1e5},[1,[2]],{"t":"b"}],"a":1})",
                    "[\n  {\"a\": 1},\n  {\"a\": 2} ,\n  [ ]\n]", R"([{"a":1},{"a":2},{"a":}])",
                    R"([{"a":1},{"a":2},])", R"([{"a":1},{"a":2})", R"([{"a":1},{"a":2}})",
                    "[{\"a\":\"\xff\"},{\"a\":1}]", "[{\"a\":1},{\"a\":\"\xc3\"}]",
                    std::string(125, '[') + "[{},[1],{}]" + std::string(125, ']'),
                    std::string(125, '[') + "[{},[[1]],{}]" + std::string(125, ']')));

// Each way of being turned down, next to what is just accepted, alone and inside records.
INSTANTIATE_TEST_SUITE_P(
    Rejections, ReadCompact,
    testing::Values(
        std::string(127, '[') + std::string(127, ']'), std::string(128, '[') + std::string(128, ']'),
        std::string(125, '[') + R"({"a":{}})" + std::string(125, ']'),
        std::string(126, '[') + R"({"a":{}})" + std::string(126, ']'), R"(["\ud800"])",
        R"(["\udc00","padding padding"])", R"(["\udfff"])", R"(["\ue000\ud7ff"])", R"(["\ud800\u0041"])",
        R"(["\ud800\udbff"])", R"(["\ud800\"])", R"(["\ud83d\ude00\u00e9\u12"])", R"(["\u12g4"])", R"(["\x"])",
        "[{\"a\x01\":1}]", "{\"a\x01\":1}", "[{\"a\xff\":1}]", "{\"\xe2\x82\":1}", "[\"\xe2\x82\xac\xed\xa0\x80\"]",
        "[\"tab\there\"]", "[1]\xc3\xa9", R"([1e400,"padding padding"])", R"({"a":1e400,"b":"padding padding"})",
        R"([-,"padding padding"])", R"([01,"padding padding"])", R"([1.,"padding padding"])",
        R"([-01.5,"padding padding"])", R"([0.5e,"padding padding"])", R"([12345678,123456789.12345678])", R"([1,])",
        R"({"a":1,})", R"([{"a":1,}])", "[1] [2]", "{} {}", "1 2", R"("a" "b")",
        " \t\r\n[ \t\r\n1 \t\r\n, \t\r\n{ \t\r\n\"a\" \t\r\n: \t\r\n2 \t\r\n} \t\r\n] \t\r\n", "[1,\f2]", "\v[]", "[]",
        "{}", "[[],{},[{}],{\"a\":[]}]", "\"\"", R"({"a":1,"a":{"b":2},"a":3})", "[tru]", "[nul", "[falsey]", "nul",
        "true", "[true,false,null]", "{\"a\":[1]]", "[{\"a\":1]}", "[{\"a\" 1}]", "[{1:2}]", "{\"a\":1 \"b\":2}",
        "[\"abc", "[\"abc]", "{\"a\\u0062\":1}",
        R"([{"text":"a\"b","conf":0.25,"x":1},{"text":"c","conf":0.5,"x":2},{"text":"d","conf":0.75,"y":3}])",
        R"([{"text":"a","conf":0.25},{"text":"b","conf":05},{"text":"c","conf":0.5}])",
        R"([{"text":"a","x":1},{"texts":"b","x":2},{"tex":"c","x":3},{"text":1,"x":"text"}])",
        R"([{"a":1,"b":[{"a":2}]},{"a" :3,"b" : 4},{"a" :5,"b" : 6},{"a":5,"b":6},{"b":7,"a":8}])"));

// Numbers are checked without their values on the first read and measured on the second: every
// form and error agrees with reading the value.
INSTANTIATE_TEST_SUITE_P(Numbers, ReadCompact,
                         testing::Values("[01]", "[1.]", "[-]", "[-0,0.0,-0.50,12.3400]", "[1.5e999]",
                                         "[1e5,9e15,1E-7,2.5e+3]", "[1x]", "[1.5.]",
                                         "[18446744073709551616,-9223372036854775809,-9223372036854775808]",
                                         "{\"a\":[0,1,2],\"b\":-7}", "1", "-", "[1" + std::string(300, '0') + ".5]",
                                         "[1" + std::string(310, '0') + ".5]", "[1" + std::string(310, '0') + "]"));

// Outermost objects reordered in place: the largest member stays where it was written when the
// members before it shrink, and the text fits its buffer however much escaping grew it.
TEST(ReadCompactLarge, OutermostObjectsAgreeWithTheValueTree) {
  std::string escaped;
  for (int i = 0; i < 3000; ++i) escaped += R"(\")";
  for (const std::string& text :
       {R"({"b":")" + escaped + R"(","a":")" + escaped + R"(\""})", R"({"zz":1,"b":")" + escaped + R"(","a":0})"}) {
    EXPECT_EQ(via_literal(text), via_tree(text));
  }
}

// A text checked in parts as it arrives (cut every `step` bytes, a 0 byte after each part) gets
// the quick check's verdict and outline.
void expect_parts_agree(std::string_view text, std::size_t step, std::size_t sure_before) {
  detail::TextOutline whole, parts;
  const bool accepted = detail::quick_check(text, whole);
  ByteBuffer buffer;
  buffer.reserve(text.size() + 1);  // keeps its place as the text arrives
  GrowingCheck check(sure_before);
  for (std::size_t size = step; size < text.size(); size += step) {
    buffer.append(text.substr(size - step, step));
    check.grew(buffer, 0);
  }
  buffer.append(text.substr(buffer.size()));
  ASSERT_EQ(check.finish(buffer.view(), parts, false), accepted) << text;
  if (accepted) {
    EXPECT_TRUE(parts == whole) << text;
  }
}

// A large reply, with records whose strings hold "},{", in an object whose largest member goes
// back or forward when the keys are sorted.
class ReadLargeReply : public testing::TestWithParam<std::pair<std::string, std::string>> {};

TEST_P(ReadLargeReply, AgreesWithTheValueTree) {
  std::string text = GetParam().first + R"("rows":[)";
  for (int i = 0; i < 40'000; ++i) {
    text += i == 0 ? "{" : ",{";
    text += R"("t":"a},{\"b\u00e9 )" + std::to_string(i) + R"(","n":)" + std::to_string(i) +
            R"(.50,"a":[1,{"y":2,"x":3}]})";
  }
  text += "]" + GetParam().second;
  EXPECT_EQ(via_literal(text), via_tree(text));
  expect_quick_check_agrees(text);
  expect_parts_agree(text, 100'000, 64 << 10);
  // Read in parts, faults before the last part are found there or at the end alike: a control
  // byte, a long string and deep nesting across the cuts, whitespace, a value ending the text early.
  const std::size_t third = text.size() / 3;
  for (const std::string& middle :
       {std::string("\x01"), "\"" + std::string(200'000, 'x') + "\"", std::string(127, '[') + std::string(127, ']'),
        std::string(128, '[') + std::string(128, ']'), std::string(70'000, ' '), std::string("1]")}) {
    std::string changed = text;
    changed.insert(changed.find(",{", third) + 1, middle + ",");
    expect_parts_agree(changed, 65'537, 64 << 10);
    expect_parts_agree(changed, 1'000'000, 64 << 10);
  }
  text.back() = ']';
  EXPECT_EQ(via_literal(text), via_tree(text));
  expect_quick_check_agrees(text);
  expect_parts_agree(text, 100'000, 64 << 10);
}

INSTANTIATE_TEST_SUITE_P(Orders, ReadLargeReply,
                         testing::Values(std::pair<std::string, std::string>{R"({"zz":1,"z":2,)", R"(,"a":0})"},
                                         std::pair<std::string, std::string>{R"({"b":0,)", R"(,"zzzz":1,"a":[]})"},
                                         std::pair<std::string, std::string>{R"({)", R"(,"a":0})"}));

// Objects too large to be held while they are written: written again in key order from an
// index. Keys out of order, repeated (also spelled with escapes, unless `plain`), sharing long
// starts or one the start of another, holding a comma; such objects inside each other, in
// arrays, and as the whole text.
std::string many_members(int count, const std::string& value, bool plain = false) {
  std::string text = "{";
  for (int i = 0; i < count; ++i) {
    const unsigned scrambled = static_cast<unsigned>(i) * 2654435761u % 100'003u;
    text += i == 0 ? "\"" : ",\"";
    if (i % 97 == 5) {
      text += plain ? "common-start-1" : R"(common-start-\u0031)";
    } else if (i % 89 == 3) {  // alike for longer than the keys' first bytes are compared apart
      text += "common-start-" + std::string(70, 'q') + std::to_string(scrambled % 5);
    } else {
      text += "common-start-" + std::to_string(scrambled % 7'001);
    }
    text += "\":" + value;
  }
  return text + R"(,"c,}, ,":0,"common-start-1":"last","common-start":1)" + (plain ? "}" : R"(,"\u00e9\"":2})");
}

TEST(ReadCompactLarge, ObjectsWrittenInKeyOrderAgreeWithTheValueTree) {
  const std::string record = R"({"b":[1,{"y":"\u00e9"}],"a":0.50,"c":"x\"y}]\\"})";
  const std::string big = many_members(3'000, record);
  const std::string long_string = "\"" + std::string(35'000, 'x') + "}]{[\\\"" + std::string(35'000, 'x') + "\\n\"";
  for (const std::string& text :
       {big, R"({"content":[{"type":"text","text":"t"}],"data":)" + big + "}", "[" + big + "," + big + ",[1]]",
        many_members(400, "1"), many_members(3, big), many_members(3'000, R"(",{\",[\\,")"),
        many_members(2'000, R"({"k":)" + long_string + "}"),
        many_members(5, R"({"k":)" + long_string + R"(,"j":)" + long_string + "}"),
        R"({"z":)" + long_string + R"(,"a":)" + many_members(30, many_members(20, "[{},{}]")) + "}",
        "[" + many_members(40'000, "{}") + "]", many_members(3'000, record, true),
        "[" + many_members(40'000, "{}", true) + "]", many_members(5'000, many_members(3, "1", true), true),
        // records holding arrays of scalars written as they are, and arrays that are not
        many_members(3'000, R"({"t":[1,"x\"y\\",true,null],"s":[],"u":"v"})", true),
        many_members(3'000, R"({"t":[1],"r":["\u00e9"]})", true),
        many_members(3'000, R"({"t":[1],"q":[1.0e5,2]})", true),
        many_members(3'000, R"({"t":[1],"p":[[1],{"b":1,"a":2}]})", true),
        "[" + many_members(3'000, R"({"b":[-0.5,"a"],"a":["}]"]})") + "]"}) {
    EXPECT_TRUE(via_literal(text) == via_tree(text)) << text.substr(0, 200);  // no diff of megabytes
  }
  expect_quick_check_agrees(big);
  expect_quick_check_agrees("{ \n" + big.substr(1));  // what an index needs counted from the '{'
}

// Plain keys ordered a chunk at a time, as sorting them whole orders them, the last of equal keys
// kept: keys of few kinds of byte or of many, alike for long, ending anywhere in a chunk; few
// enough to be ordered through the scratch, and too many.
TEST(PlainKeyOrder, AgreesWithSortingTheKeysWhole) {
  struct Member {
    std::uint32_t at, chunk;
  };
  std::mt19937_64 random(5);
  for (const std::string alphabet :
       {"01", "0123456789abcdef", "-.0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz~",
        "ab\xC3\xA9\xE2\x80\x94"}) {
    for (const auto& [start, count] : {std::pair{0, 3000}, {3, 3000}, {40, 3000}, {0, 20000}, {3, 20000}}) {
      std::string text = "{";
      std::vector<Member> members;
      std::vector<std::pair<std::string, std::uint32_t>> expected;  // key, place
      for (int i = 0; i < count; ++i) {
        std::string key(static_cast<std::size_t>(start), 'k');
        for (std::size_t n = random() % 14; n > 0; --n) key += alphabet[random() % alphabet.size()];
        if (random() % 9 == 0) key += std::string(70, 'q') + alphabet[random() % alphabet.size()];
        members.push_back({static_cast<std::uint32_t>(text.size() + 1), 0});
        expected.emplace_back(key, members.back().at);
        text += "\"" + key + "\":0,";
      }
      text += std::string(64, '\0');
      std::size_t common = expected[0].first.size();
      for (const auto& [key, place] : expected) {
        const std::string& first = expected[0].first;
        common = std::min<std::size_t>(
            common, std::mismatch(key.begin(), key.end(), first.begin(), first.end()).first - key.begin());
      }
      detail::KeyWindow window(common);
      detail::order_plain_keys(
          members.data(), members.data() + members.size(), window, [&](const Member& m) { return text.data() + m.at; },
          [](const Member& m) { return m.at; }, [](Member& m) { m.at = 0; });
      std::vector<std::uint32_t> kept;
      for (const Member& m : members) {
        if (m.at != 0) kept.push_back(m.at);
      }
      std::stable_sort(expected.begin(), expected.end(),
                       [](const auto& a, const auto& b) { return a.first < b.first; });
      std::vector<std::uint32_t> last_of_each;
      for (std::size_t i = 0; i < expected.size(); ++i) {
        if (i + 1 == expected.size() || expected[i + 1].first != expected[i].first)
          last_of_each.push_back(expected[i].second);
      }
      ASSERT_EQ(kept, last_of_each) << testing::PrintToString(alphabet) << " after " << start;
    }
  }
}

TEST(ReadCompactCorpus, AgreesWithTheValueTreeOnEveryRequestLine) {
  int checked = 0;
  for (const Value& vector : testing_support::load_jsonl("request-lines.jsonl")) {
    const std::string input = vector["input"].get<std::string>();
    ASSERT_EQ(via_literal(input), via_tree(input)) << input;
    expect_quick_check_agrees(input);
    ++checked;
  }
  EXPECT_EQ(checked, 3626);
}

}  // namespace
}  // namespace korvane::json
