#include "protocol/response.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <new>
#include <string>

#include "json/read/reader.h"
#include "json/relay/compact_literal.h"
#include "protocol/dispatch.h"

namespace korvane {
namespace {

using json::Value;

ToolResult tool_result(std::string_view reply) {
  auto literal = json::read_compact_literal(reply);
  EXPECT_TRUE(literal.ok());
  return ToolResult{std::move(literal).value()};
}

struct LineCase {
  const char* name;
  Value id;
  std::function<ResultOutcome()> outcome;
  std::string expected;
};

class ResponseLine : public testing::TestWithParam<LineCase> {};

// Sees the start of each line, or fails to as asked.
struct Watcher final : ResponseObserver {
  std::size_t wanted;
  bool throws;
  std::string start;
  std::size_t size = 0;
  int written = 0;

  Watcher(std::size_t wanted_bytes, bool fails) : wanted(wanted_bytes), throws(fails) {}
  std::size_t line_start_bytes() const override { return wanted; }
  void line_written(std::string_view line_start, std::size_t line_size) override {
    if (throws) throw std::bad_alloc();
    start = line_start;
    size = line_size;
  }
  void lines_written() override { ++written; }
};

TEST_P(ResponseLine, IsWrittenExactly) {
  std::string line;
  append_response(line, GetParam().id, GetParam().outcome());
  EXPECT_EQ(line, GetParam().expected + "\n");
  // Watched or not, and whether the watcher can take the line or not, the line is the same.
  for (Watcher watcher : {Watcher(16, false), Watcher(1 << 20, false), Watcher(SIZE_MAX, false), Watcher(16, true)}) {
    std::string watched;
    ResponseWriter writer(watched);
    writer.watch(&watcher);
    writer.add(GetParam().id, GetParam().outcome());
    ASSERT_TRUE(writer.flush());
    EXPECT_EQ(watched, line) << watcher.wanted;
    EXPECT_EQ(watcher.written, 1);
    if (!watcher.throws) {
      EXPECT_EQ(watcher.start, GetParam().expected.substr(0, watcher.wanted));
      EXPECT_EQ(watcher.size, GetParam().expected.size());
    }
  }
}

std::string joined(std::initializer_list<std::string_view> parts) {
  std::string text;
  for (std::string_view part : parts) text.append(part);
  return text;
}

const std::string kLongConstant = joined({"[\"", std::string(4000, 'c'), "\"]"});
const std::string kLongText(100000, 't');

INSTANTIATE_TEST_SUITE_P(
    Kinds, ResponseLine,
    testing::Values(
        LineCase{"NullResult", 7, [] { return Result(Value(nullptr)); }, R"({"jsonrpc":"2.0","id":7,"result":null})"},
        LineCase{"ValueSortedKeys", Value::parse(R"({"b":1,"a":2})"),
                 [] { return Result(Value::parse(R"({"y":1,"x":[]})")); },
                 R"({"jsonrpc":"2.0","id":{"a":2,"b":1},"result":{"x":[],"y":1}})"},
        LineCase{"ShortConstant", "a", [] { return Result(ConstantJson{"{}"}); },
                 R"({"jsonrpc":"2.0","id":"a","result":{}})"},
        LineCase{"LongConstant", 1, [] { return Result(ConstantJson{kLongConstant}); },
                 joined({R"({"jsonrpc":"2.0","id":1,"result":)", kLongConstant, "}"})},
        LineCase{"ToolResult", 5, [] { return Result(tool_result(R"({"ok":true})")); },
                 R"({"jsonrpc":"2.0","id":5,"result":{"content":[{"text":"{\"ok\":true}","type":"text"}]}})"},
        LineCase{"LongToolResult", 5,
                 [] {
                   return Result(tool_result(joined({"\"", kLongText, "\""})));
                 },
                 joined({R"({"jsonrpc":"2.0","id":5,"result":{"content":[{"text":"\")", kLongText,
                         R"(\"","type":"text"}]}})"})},
        LineCase{"ErrorEscaped", nullptr, [] { return ResultOutcome(error_text("a \"q\" \\ \n")); },
                 R"({"jsonrpc":"2.0","id":null,"error":{"code":-32000,"message":"a \"q\" \\ \n"}})"}),
    [](const testing::TestParamInfo<LineCase>& param_info) { return std::string(param_info.param.name); });

// Many queued lines, large ones written in place among them, go out through a descriptor
// exactly as they are collected, in more parts than one gathered write takes.
TEST(ResponseWriterFd, WritesQueuedLinesInOrder) {
  std::string expected;
  ResponseWriter collected(expected);
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  ResponseWriter written(fileno(file));
  for (int i = 0; i < 3000; ++i) {
    for (ResponseWriter* writer : {&collected, &written}) {
      writer->add(i, i % 3 == 0   ? ResultOutcome(Result(ConstantJson{kLongConstant}))
                     : i % 3 == 1 ? ResultOutcome(Result(tool_result(joined({"[", std::to_string(i), "]"}))))
                                  : ResultOutcome(error_text(joined({"e", std::to_string(i)}))));
    }
  }
  ASSERT_TRUE(collected.flush());
  ASSERT_TRUE(written.flush());
  std::rewind(file);
  std::string bytes(expected.size() + 1, '\0');
  bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
  std::fclose(file);
  EXPECT_EQ(bytes.size(), expected.size());
  EXPECT_TRUE(bytes == expected);
}

// The methods the dispatch tests answer with: "echo" gives its params back as a value, "fail"
// an error text; every call is counted, answered or not.
int g_method_calls = 0;
ResultOutcome stub_methods(const McpRequest& request, ResponseWriter&) {
  ++g_method_calls;
  if (request.method == "echo") return Result(Value::parse(request.params));
  return error_text("unknown method: " + request.method);
}

struct DispatchCase {
  const char* name;
  std::string_view line;
  int method_calls;
  std::string_view expected;  // without the final "\n"; empty when no answer is due
};

class HandleLine : public testing::TestWithParam<DispatchCase> {};

TEST_P(HandleLine, AnswersAsTheProtocolAsks) {
  g_method_calls = 0;
  std::string lines;
  ResponseWriter out(lines);
  handle_line(GetParam().line, stub_methods, out);
  EXPECT_TRUE(out.flush().ok());
  EXPECT_EQ(g_method_calls, GetParam().method_calls);
  EXPECT_EQ(lines, GetParam().expected.empty() ? "" : std::string(GetParam().expected) + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Requests, HandleLine,
    testing::Values(
        DispatchCase{"ResultKeepsTheId", R"({"id":"x","method":"echo","params":{"b":[1],"a":0},"jsonrpc":"2.0"})", 1,
                     R"({"jsonrpc":"2.0","id":"x","result":{"a":0,"b":[1]}})"},
        DispatchCase{"MethodErrorKeepsTheId", R"({"jsonrpc":"2.0","id":[3],"method":"fail"})", 1,
                     R"({"jsonrpc":"2.0","id":[3],"error":{"code":-32000,"message":"unknown method: fail"}})"},
        DispatchCase{"NotificationIsCarriedOutUnanswered", R"({"jsonrpc":"2.0","method":"fail"})", 1, ""},
        DispatchCase{"ExplicitNullIdIsANotification", R"({"jsonrpc":"2.0","id":null,"method":"echo"})", 1, ""},
        DispatchCase{"WrongVersionIsAnsweredWithoutCalling", R"({"jsonrpc":"1.0","id":4,"method":"echo"})", 0,
                     R"({"jsonrpc":"2.0","id":4,"error":{"code":-32000,"message":"not jsonrpc 2.0"}})"},
        DispatchCase{"WrongVersionOfANotificationIsStillAnswered", R"({"jsonrpc":"1.0","method":"echo"})", 0,
                     R"({"jsonrpc":"2.0","id":null,"error":{"code":-32000,"message":"not jsonrpc 2.0"}})"},
        DispatchCase{
            "UnreadableLineIsAnsweredWithIdNull", R"({"jsonrpc":"2.0","id":1,"method":"echo",})", 0,
            R"({"jsonrpc":"2.0","id":null,"error":{"code":-32000,"message":"parse: trailing comma at line 1 column 41"}})"}),
    [](const testing::TestParamInfo<DispatchCase>& param_info) { return std::string(param_info.param.name); });

}  // namespace
}  // namespace korvane
