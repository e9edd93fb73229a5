#include "bridge/tool_call.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <optional>
#include <string>

#include "bridge/socket_info.h"
#include "catalogue/tool_definitions.h"
#include "common/posix.h"
#include "fixtures.h"
#include "json/write/writer.h"
#include "protocol/response.h"

namespace korvane {
namespace {

using json::Value;
using testing_support::OneShotApp;
using testing_support::RefusingPort;
using testing_support::ScopedEnv;
using testing_support::TempDirTest;

struct BodyCase {
  const char* name;
  const char* tool;
  const char* arguments;  // JSON text
  std::optional<std::string> session_id;
  const char* expected;  // JSON text of the body, or the error text
};

class AppRequestBodyTest : public testing::TestWithParam<BodyCase> {};

TEST_P(AppRequestBodyTest, Routes) {
  const auto& param = GetParam();
  const auto body = app_request_body(param.tool, Value::parse(param.arguments), param.session_id);
  if (body.ok()) {
    EXPECT_EQ(json::to_json(body.value()), param.expected);
  } else {
    EXPECT_EQ(body.error(), param.expected);
  }
}

std::string case_name(const testing::TestParamInfo<BodyCase>& param_info) { return param_info.param.name; }

INSTANTIATE_TEST_SUITE_P(
    SessionForward, AppRequestBodyTest,
    testing::Values(BodyCase{"NoCaller", "sessions_list", "{}", std::nullopt,
                             R"({"method":"sessions_list","params":{"session_id":null}})"},
                    BodyCase{"ClientSessionIdReplaced", "session_kill", R"({"id":"I","session_id":"X"})", "S",
                             R"({"method":"session_kill","params":{"id":"I","session_id":"S"}})"},
                    BodyCase{"ClientSessionIdNulled", "session_read", R"({"id":7,"session_id":"X"})", std::nullopt,
                             R"({"method":"session_read","params":{"id":7,"session_id":null}})"},
                    BodyCase{"ArrayDropped", "session_send", "[1,2]", "S",
                             R"({"method":"session_send","params":{"session_id":"S"}})"},
                    BodyCase{"StringDropped", "session_wait", R"("x")", " S ",
                             R"({"method":"session_wait","params":{"session_id":" S "}})"},
                    BodyCase{"NullDropped", "session_spawn", "null", std::nullopt,
                             R"({"method":"session_spawn","params":{"session_id":null}})"}),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    MethodOnlyAndPlain, AppRequestBodyTest,
    testing::Values(
        BodyCase{"ScreenshotDropsArguments", "screenshot", R"({"x":1})", "S", R"({"method":"screenshot"})"},
        BodyCase{"OcrDropsArguments", "screen_ocr", R"({"region":[0,0,1,1]})", std::nullopt,
                 R"({"method":"screen_ocr"})"},
        BodyCase{"ListLearned", "list_learned", "null", std::nullopt, R"({"method":"list_learned"})"},
        BodyCase{"ClickSorted", "click", R"({"y":20,"x":10})", "S", R"({"method":"click","params":{"x":10,"y":20}})"},
        BodyCase{"ClickEmpty", "click", "{}", std::nullopt, R"({"method":"click","params":{}})"},
        BodyCase{"ClickNull", "click", "null", std::nullopt, R"({"method":"click","params":null})"},
        BodyCase{"ScrollArrayKept", "scroll", R"([1,"a"])", std::nullopt, R"({"method":"scroll","params":[1,"a"]})"},
        BodyCase{"NoSessionAdded", "type_text", R"({"text":"hi"})", "S",
                 R"({"method":"type_text","params":{"text":"hi"}})"}),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    BuiltParams, AppRequestBodyTest,
    testing::Values(
        BodyCase{"MarkdownKeepsOnlyPath", "open_markdown", R"({"path":"a.md","line":3})", "S",
                 R"({"method":"open_markdown","params":{"path":"a.md","session_id":"S"}})"},
        BodyCase{"MarkdownNumericPath", "open_markdown", R"({"path":1})", "S", "missing path"},
        BodyCase{"MarkdownArrayArguments", "open_markdown", R"(["a.md"])", "S", "missing path"},
        BodyCase{"PreviewNoLayout", "open_dev_preview", R"({"url":"U"})", std::nullopt,
                 R"({"method":"open_dev_preview","params":{"layout":null,"session_id":null,"url":"U"}})"},
        BodyCase{"PreviewNumericLayout", "open_dev_preview", R"({"url":"U","layout":3})", "S",
                 R"({"method":"open_dev_preview","params":{"layout":null,"session_id":"S","url":"U"}})"},
        BodyCase{"PreviewLayout", "open_dev_preview", R"({"url":"","layout":"split"})", "S",
                 R"({"method":"open_dev_preview","params":{"layout":"split","session_id":"S","url":""}})"},
        BodyCase{"PreviewMissingUrl", "open_dev_preview", R"({"layout":"split","url":null})", "S", "missing url"},
        BodyCase{"NotifyNothing", "notify", "{}", std::nullopt, "missing title"},
        BodyCase{"NotifyNumericTitle", "notify", R"({"title":1,"body":"b"})", std::nullopt, "missing title"},
        BodyCase{"NotifyNoBody", "notify", R"({"title":"t","body":{}})", std::nullopt, "missing body"},
        BodyCase{"NotifyEmptyStrings", "notify", R"({"title":"","body":""})", "S",
                 R"({"method":"notify","params":{"body":"","title":""}})"},
        BodyCase{"NotifyDropsExtras", "notify", R"({"title":"t","body":"b","sound":true})", "S",
                 R"({"method":"notify","params":{"body":"b","title":"t"}})"}),
    case_name);

INSTANTIATE_TEST_SUITE_P(UnknownTools, AppRequestBodyTest,
                         testing::Values(BodyCase{"CaseSensitive", "Click", "{}", std::nullopt, "unknown tool: Click"},
                                         BodyCase{"NotTrimmed", "click ", "{}", std::nullopt, "unknown tool: click "},
                                         BodyCase{"Empty", "", "{}", std::nullopt, "unknown tool: "}),
                         case_name);

TEST(AppRequestBody, EveryCatalogueToolIsRouted) {
  const Value tools = tool_definitions();
  ASSERT_EQ(tools.size(), 22u);
  const Value arguments = Value::parse(R"({"path":"p","url":"u","title":"t","body":"b"})");
  for (const auto& tool : tools) {
    const auto& name = tool["name"].get_ref<const std::string&>();
    const auto body = app_request_body(name, arguments, std::nullopt);
    ASSERT_TRUE(body.ok()) << body.error();
    EXPECT_EQ(body.value()["method"], name);
  }
}

struct SessionCase {
  const char* name;
  std::optional<std::string> variable;
  std::optional<std::string> expected;
};

class CallerSessionTest : public testing::TestWithParam<SessionCase> {};

TEST_P(CallerSessionTest, ReadsEnvironment) {
  ScopedEnv env;
  env.set("KORVANE_SESSION_ID", GetParam().variable);
  EXPECT_EQ(caller_session_id(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, CallerSessionTest,
    testing::Values(SessionCase{"Unset", std::nullopt, std::nullopt}, SessionCase{"Plain", "sess-1", "sess-1"},
                    SessionCase{"SurroundingBlanksKept", " \tsess-1\u3000", " \tsess-1\u3000"},
                    SessionCase{"Empty", "", std::nullopt}, SessionCase{"AsciiBlanks", " \t\n\v\f\r", std::nullopt},
                    SessionCase{"IdeographicSpace", "\u3000", std::nullopt},
                    SessionCase{"NextLine", "\u0085", std::nullopt},
                    SessionCase{"OtherUnicodeBlanks", "\u00a0\u1680\u2000\u200a\u2028\u2029\u202f\u205f", std::nullopt},
                    SessionCase{"ZeroWidthSpaceIsNotBlank", "\u200b", "\u200b"},
                    SessionCase{"MongolianVowelSeparatorIsNotBlank", "\u180e", "\u180e"},
                    SessionCase{"InvalidUtf8", "sess\xff", std::nullopt},
                    SessionCase{"EncodedSurrogate", "\xed\xa0\x80", std::nullopt}),
    [](const testing::TestParamInfo<SessionCase>& param_info) { return std::string(param_info.param.name); });

class HandleToolCallTest : public TempDirTest {
 protected:
  // Publishes a socket-info file for the port and points the server at it.
  void publish(std::uint16_t port) {
    const std::string path = dir_ + "/socket-info.json";
    std::ofstream(path) << R"({"port":)" << port << R"(,"token":"tok"})";
    env_.set("KORVANE_SOCKET_INFO", path);
  }

  ScopedEnv env_;
};

TEST_F(HandleToolCallTest, NotRunningComesFirst) {
  env_.set("KORVANE_SOCKET_INFO", dir_ + "/missing.json");
  for (const char* name : {"click", "no_such_tool", "notify"}) {
    const auto result = handle_tool_call(name, Value::object());
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error(), kAppNotRunning);
  }
}

TEST_F(HandleToolCallTest, RoutingErrorsPrecedeConnecting) {
  const RefusingPort holder;
  publish(holder.port());
  EXPECT_EQ(handle_tool_call("no_such_tool", Value::object()).error(), "unknown tool: no_such_tool");
  EXPECT_EQ(handle_tool_call("notify", Value::object()).error(), "missing title");
  EXPECT_EQ(handle_tool_call("click", Value::object()).error(), "connect: " + os_error_text(ECONNREFUSED));
}

TEST_F(HandleToolCallTest, WrapsCompactReply) {
  OneShotApp app("HTTP/1.1 200 OK\r\n\r\n{ \"b\" : 1, \"a\" : \"\\u00e9\" }");
  publish(app.port());
  env_.set("KORVANE_SESSION_ID", " me ");
  auto result = handle_tool_call("session_kill", Value::parse(R"({"id":"other","session_id":"x"})"));
  ASSERT_TRUE(result.ok()) << result.error();
  std::string line;
  append_response(line, 5, Result(ToolResult{std::move(result).value()}));
  EXPECT_EQ(line, R"({"jsonrpc":"2.0","id":5,"result":{"content":[{"text":"{\"a\":\"é\",\"b\":1}","type":"text"}]}})"
                  "\n");
  EXPECT_EQ(app.finish_body(), R"({"method":"session_kill","params":{"id":"other","session_id":" me "}})");
}

}  // namespace
}  // namespace korvane
