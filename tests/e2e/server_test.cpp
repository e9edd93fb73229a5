// The real binary against the stand-in desktop app: routing, exact app requests, channel
// errors, and the loop going on after every failure.
#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "bridge/app_channel.h"
#include "json/shared/value.h"
#include "processes.h"

namespace korvane::e2e {
namespace {

using json::Value;

constexpr std::string_view kNotRunning = "korvane GUI is not running (no socket-info.json found)";
const std::string kInitialize = R"({"jsonrpc":"2.0","id":99,"method":"initialize"})";
const std::string kInitializeAnswer = initialize_answer("99");

std::string expected_head(const StandinApp& app, std::size_t body_length) {
  return app_request_head(app.port(), app.token(), body_length);
}

// The platform's description of a system error as error texts give it: "<text> (os error <N>)".
std::string system_error(int number) {
  return std::string(std::strerror(number)) + " (os error " + std::to_string(number) + ")";
}

std::string error_message(const std::string& line) {
  const Value response = Value::parse(line);
  return response.contains("error") ? response["error"]["message"].get<std::string>() : "(result) " + line;
}

struct RouteCase {
  std::string name;
  std::string arguments;
  std::string expected_body;  // with SESSION standing for the session id's JSON text
};

void PrintTo(const RouteCase& c, std::ostream* os) { *os << c.name << " " << c.arguments; }

std::string with_session(std::string body, const std::string& session_json) {
  for (std::size_t at; (at = body.find("SESSION")) != std::string::npos;) body.replace(at, 7, session_json);
  return body;
}

const std::vector<RouteCase> kRoutes = {
    {"sessions_list", "{}", R"({"method":"sessions_list","params":{"session_id":SESSION}})"},
    {"session_read", R"({"id":"s2","session_id":"forged"})",
     R"({"method":"session_read","params":{"id":"s2","session_id":SESSION}})"},
    {"session_kill", R"(["s2"])", R"({"method":"session_kill","params":{"session_id":SESSION}})"},
    {"session_send", R"({"text":"go","id":"s2","submit":false})",
     R"({"method":"session_send","params":{"id":"s2","session_id":SESSION,"submit":false,"text":"go"}})"},
    {"open_markdown", R"({"path":"/tmp/a.md","line":4})",
     R"({"method":"open_markdown","params":{"path":"/tmp/a.md","session_id":SESSION}})"},
    {"open_dev_preview", R"({"url":"http://localhost:3000","layout":7})",
     R"({"method":"open_dev_preview","params":{"layout":null,"session_id":SESSION,"url":"http://localhost:3000"}})"},
    {"notify", R"({"title":"","body":"","urgent":true})", R"({"method":"notify","params":{"body":"","title":""}})"},
    {"screenshot", R"({"display":2})", R"({"method":"screenshot"})"},
    {"screen_ocr", "null", R"({"method":"screen_ocr"})"},
    {"list_learned", "{}", R"({"method":"list_learned"})"},
    {"click", R"({"y":20,"x":10,"button":"left"})", R"({"method":"click","params":{"button":"left","x":10,"y":20}})"},
    {"click", "null", R"({"method":"click","params":null})"},
    {"type_text", R"({"text":"h\u00e9\"llo\n"})",
     "{\"method\":\"type_text\",\"params\":{\"text\":\"h\xc3\xa9\\\"llo\\n\"}}"},
    {"scroll", R"([1,2])", R"({"method":"scroll","params":[1,2]})"},
};

class Route : public testing::TestWithParam<RouteCase> {};

// Each route kind sends exactly its body behind exactly the fixed head, and relays the reply.
TEST_P(Route, SendsTheExactAppRequestAndRelaysTheReply) {
  StandinApp app;
  ASSERT_TRUE(app.ready());
  const RouteCase& route = GetParam();
  const std::string line = tool_call_line(1, route.name, route.arguments) + "\n";
  struct Session {
    std::optional<std::string> id;
    std::string json;
  };
  for (const Session& session : {Session{"s1", R"("s1")"}, Session{" \t s1\u3000", "\" \\t s1\xe3\x80\x80\""},
                                 Session{" \t\xe3\x80\x80", "null"}, Session{std::nullopt, "null"}}) {
    const std::size_t before = app.recorded_requests().size();
    const ServerRun run = run_server(line, app.server_environment(session.id));
    ASSERT_TRUE(run.status.success()) << describe(run.status);
    const Value response = Value::parse(run.out);
    ASSERT_TRUE(response.contains("result")) << run.out;
    const Value& content = response["result"]["content"];
    ASSERT_EQ(content.size(), 1u);
    EXPECT_EQ(content[0]["type"], "text");
    EXPECT_TRUE(Value::accept(content[0]["text"].get<std::string>())) << content[0]["text"];

    const std::vector<RecordedRequest> requests = app.recorded_requests();
    ASSERT_EQ(requests.size(), before + 1);
    const std::string body = with_session(route.expected_body, session.json);
    EXPECT_EQ(requests.back().body, body);
    EXPECT_EQ(requests.back().head, expected_head(app, body.size()));
  }
}

INSTANTIATE_TEST_SUITE_P(EveryRouteKind, Route, testing::ValuesIn(kRoutes));

struct FailureCase {
  std::string label;
  std::string line;
  std::string message;
};

TEST(ToolCallErrors, ValidationTextsComeInOrderAndNothingIsSent) {
  StandinApp app;
  ASSERT_TRUE(app.ready());
  const std::vector<FailureCase> cases = {
      {"unknown", tool_call_line(1, "Click", "{}"), "unknown tool: Click"},
      {"blank", tool_call_line(1, "click ", "{}"), "unknown tool: click "},
      {"path", tool_call_line(1, "open_markdown", R"({"path":5})"), "missing path"},
      {"url", tool_call_line(1, "open_dev_preview", R"({"layout":"drawer"})"), "missing url"},
      {"title", tool_call_line(1, "notify", R"({"title":1,"body":"b"})"), "missing title"},
      {"neither", tool_call_line(1, "notify", "[]"), "missing title"},
      {"body", tool_call_line(1, "notify", R"({"title":"t"})"), "missing body"},
      {"name", R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":7}})", "missing name"},
  };
  for (const FailureCase& c : cases) {
    const ServerRun run = run_server(c.line + "\n" + kInitialize + "\n", app.server_environment("s1"));
    const std::vector<std::string> lines = split_lines(run.out);
    ASSERT_EQ(lines.size(), 2u) << c.label << ": " << run.out;
    EXPECT_EQ(error_message(lines[0]), c.message) << c.label;
    EXPECT_EQ(lines[1], kInitializeAnswer) << c.label;
  }
  EXPECT_TRUE(app.recorded_requests().empty());
}

struct ChannelCase {
  std::string mode;
  std::string message;  // exact, or a prefix when it ends with "*"
};

void PrintTo(const ChannelCase& c, std::ostream* os) { *os << c.mode; }

class ChannelError : public testing::TestWithParam<ChannelCase> {};

TEST_P(ChannelError, GivesTheExactTextAndTheNextLineIsAnsweredNormally) {
  StandinApp app({.mode = GetParam().mode});
  ASSERT_TRUE(app.ready());
  const ServerRun run =
      run_server(tool_call_line(7, "click", R"({"x":1,"y":2})") + "\n" + kInitialize + "\n", app.server_environment());
  ASSERT_TRUE(run.status.success()) << describe(run.status);
  const std::vector<std::string> lines = split_lines(run.out);
  ASSERT_EQ(lines.size(), 2u) << run.out;
  std::string want = GetParam().message;
  if (!want.empty() && want.back() == '*') {
    want.pop_back();
    EXPECT_EQ(error_message(lines[0]).substr(0, want.size()), want) << lines[0];
  } else {
    EXPECT_EQ(error_message(lines[0]), want);
  }
  EXPECT_EQ(lines[1], kInitializeAnswer);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, ChannelError,
    testing::Values(ChannelCase{"refuse", "connect: " + system_error(ECONNREFUSED)},
                    ChannelCase{"close-after-read", R"(parse: EOF while parsing a value at line 1 column 0 -- raw="")"},
                    ChannelCase{"no-blank-line", R"(parse: EOF while parsing a value at line 1 column 0 -- raw="")"},
                    ChannelCase{"reset", "read: " + system_error(ECONNRESET)},
                    ChannelCase{"non-json", R"(parse: expected ident at line 1 column 2 -- raw="not json\n")"},
                    ChannelCase{"two-values",
                                R"(parse: trailing characters at line 1 column 9 -- raw="{\"a\":1} {\"b\":2}")"},
                    ChannelCase{"chunked", "parse: *"}, ChannelCase{"status500", "(result) *"}));

TEST(ToolCall, RereadsTheSocketInfoFileAtEveryCall) {
  StandinApp first({.token = "first-token"});
  StandinApp second({.token = "second-token"});
  ASSERT_TRUE(first.ready() && second.ready());
  TempDir dir;
  const std::string path = dir.file("socket-info.json");
  Subprocess server({server_binary()}, {"KORVANE_SOCKET_INFO=" + path});
  for (const StandinApp* app : {&first, &second}) {
    write_file(path, read_file(app->socket_info_path()));
    ASSERT_TRUE(server.write_stdin(tool_call_line(1, "screenshot", "{}") + "\n"));
    ASSERT_TRUE(server.read_line().has_value());
  }
  std::remove(path.c_str());
  ASSERT_TRUE(server.write_stdin(tool_call_line(2, "screenshot", "{}") + "\n"));
  EXPECT_EQ(error_message(server.read_line().value_or("")), kNotRunning);
  server.close_stdin();
  EXPECT_TRUE(server.wait().success());
  ASSERT_EQ(first.recorded_requests().size(), 1u);
  ASSERT_EQ(second.recorded_requests().size(), 1u);
  EXPECT_NE(second.recorded_requests()[0].head.find("X-Korvane-Token: second-token\r\n"), std::string::npos);
  EXPECT_NE(second.recorded_requests()[0].head.find("Host: 127.0.0.1:" + std::to_string(second.port())),
            std::string::npos);
}

TEST(ToolCall, WithoutAnIdIsCarriedOutButNotAnswered) {
  StandinApp app;
  ASSERT_TRUE(app.ready());
  const std::string line =
      R"({"jsonrpc":"2.0","method":"tools/call","params":{"name":"click","arguments":{"x":1,"y":1}}})";
  const ServerRun run = run_server(line + "\n" + kInitialize + "\n", app.server_environment());
  EXPECT_EQ(run.out, kInitializeAnswer + "\n");
  EXPECT_EQ(app.recorded_requests().size(), 1u);
}

// Answers to the lines before a tool call go out before the call waits for the app, even when
// all the lines arrive in one piece.
TEST(ToolCall, AnswersQueuedBeforeACallAreWrittenBeforeItWaits) {
  StandinApp app({.mode = "hang"});
  ASSERT_TRUE(app.ready());
  Subprocess server({server_binary()}, app.server_environment());
  ASSERT_TRUE(server.started());
  ASSERT_TRUE(
      server.write_stdin(kInitialize + "\n" + kInitialize + "\n" + tool_call_line(3, "session_wait", "{}") + "\n"));
  EXPECT_EQ(server.read_line(), kInitializeAnswer);
  EXPECT_EQ(server.read_line(), kInitializeAnswer);
  server.kill();
}

TEST(ToolCall, SlowByteByByteReplyArrivesWhole) {
  StandinApp app({.mode = "slow", .delay_ms = 1});
  ASSERT_TRUE(app.ready());
  const ServerRun run = run_server(tool_call_line(3, "sessions_list", "{}") + "\n", app.server_environment("s1"));
  const Value response = Value::parse(run.out);
  ASSERT_TRUE(response.contains("result")) << run.out;
  EXPECT_NE(response["result"]["content"][0]["text"].get<std::string>().find("\"isSelf\":true"), std::string::npos);
}

}  // namespace
}  // namespace korvane::e2e

namespace korvane::e2e {
namespace {

// An app that hangs up before reading may fail the write or the read, depending on timing;
// either way the call fails with a channel text and the loop goes on.
TEST(FaultInjection, AppClosingBeforeReadingFailsTheCallCleanly) {
  StandinApp app({.mode = "close-before-read"});
  ASSERT_TRUE(app.ready());
  const ServerRun run =
      run_server(tool_call_line(1, "click", R"({"x":1,"y":2})") + "\n" + kInitialize + "\n", app.server_environment());
  const std::vector<std::string> lines = split_lines(run.out);
  ASSERT_EQ(lines.size(), 2u) << run.out;
  const std::string message = error_message(lines[0]);
  const bool channel_text = message.rfind("write head: ", 0) == 0 || message.rfind("write body: ", 0) == 0 ||
                            message.rfind("read: ", 0) == 0 ||
                            message.rfind("parse: EOF while parsing a value", 0) == 0;
  EXPECT_TRUE(channel_text) << message;
  EXPECT_EQ(lines[1], kInitializeAnswer);
}

TEST(FaultInjection, TwoHundredMegabyteReplyIsRelayedWhole) {
  TempDir dir;
  const std::string text(200'000'000, 'r');
  write_file(dir.file("body.json"), "{\"text\":\"" + text + "\",\"lines\":[]}");
  StandinApp app({.mode = "body-file", .body_file = dir.file("body.json"), .record = false});
  ASSERT_TRUE(app.ready());
  const ServerRun run =
      run_server(tool_call_line(1, "screen_ocr", "{}") + "\n", app.server_environment(), Duration{120'000});
  ASSERT_TRUE(run.status.success()) << describe(run.status);
  const std::string expected = R"({"jsonrpc":"2.0","id":1,"result":{"content":[{"text":"{\"lines\":[],\"text\":\")" +
                               text +
                               R"(\"}","type":"text"}]}})"
                               "\n";
  EXPECT_EQ(run.out.size(), expected.size());
  EXPECT_TRUE(run.out == expected);
}

// A signal to end that arrives while a long answer is being written (the client reads slowly)
// takes effect once the line is finished: the client, which reads lines, never sees a torn one.
// A client that never reads again cannot keep the server alive: the signal takes effect anyway
// after a few seconds.
TEST(FaultInjection, ASignalToEndWaitsForTheLineBeingWritten) {
  TempDir dir;
  write_file(dir.file("body.json"), "{\"text\":\"" + std::string(8'000'000, 'r') + "\",\"lines\":[]}");
  StandinApp app({.mode = "body-file", .body_file = dir.file("body.json"), .record = false});
  ASSERT_TRUE(app.ready());
  struct Case {
    int signal;
    bool client_reads;
  };
  for (const Case& c : {Case{SIGTERM, true}, Case{SIGINT, true}, Case{SIGHUP, true}, Case{SIGTERM, false}}) {
    SCOPED_TRACE(testing::Message() << "signal " << c.signal << (c.client_reads ? "" : ", client reads no more"));
    Subprocess server({server_binary()}, app.server_environment());
    ASSERT_TRUE(server.write_stdin(kInitialize + "\n" + tool_call_line(1, "screen_ocr", "{}") + "\n"));
    ASSERT_EQ(server.read_line(), kInitializeAnswer);
    ASSERT_TRUE(server.wait_for_stdout());
    std::this_thread::sleep_for(Duration{200});  // the pipe fills; the server waits to write on
    server.send_signal(c.signal);
    if (!c.client_reads) {
      EXPECT_EQ(server.wait_unread(Duration{30'000}).signal, c.signal);
      continue;
    }
    const std::string rest = server.read_stdout_to_end();
    const ExitStatus status = server.wait(Duration{60'000});
    EXPECT_EQ(status.signal, c.signal) << describe(status);
    ASSERT_FALSE(rest.empty());
    EXPECT_EQ(rest.back(), '\n') << rest.size() << " bytes";
    for (const std::string& line : split_lines(rest)) {
      EXPECT_TRUE(Value::accept(line)) << line.size() << " bytes";
    }
  }
}

}  // namespace
}  // namespace korvane::e2e
