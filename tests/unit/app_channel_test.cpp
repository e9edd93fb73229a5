#include "bridge/app_channel.h"

#include <gtest/gtest.h>
#include <sys/time.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <string>

#include "common/posix.h"
#include "fixtures.h"
#include "json/write/writer.h"

namespace korvane {
namespace {

using json::Value;
using testing_support::from_hex;
using testing_support::OneShotApp;
using testing_support::RefusingPort;

constexpr std::string_view kOkHead = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n\r\n";

// The reply's compact text comes as a JSON string literal.
std::string unquoted(std::string_view literal) { return json::Value::parse(literal).get<std::string>(); }

TEST(ReplyBodyVectors, ParseEveryReply) {
  const auto vectors = testing_support::load_jsonl("reply-bodies.jsonl");
  ASSERT_EQ(vectors.size(), 2010u);
  for (const auto& vector : vectors) {
    SCOPED_TRACE(vector.dump());
    const auto reply = parse_app_reply(std::string(kOkHead) + from_hex(vector["body_hex"].get<std::string>()));
    if (vector.contains("text")) {
      ASSERT_TRUE(reply.ok()) << reply.error();
      EXPECT_EQ(unquoted(reply.value().text()), vector["text"].get<std::string>());
    } else {
      ASSERT_FALSE(reply.ok());
      EXPECT_EQ(reply.error(), vector["error"].get<std::string>());
    }
  }
}

TEST(AppRequestHead, FollowsTemplate) {
  EXPECT_EQ(app_request_head(8123, "s3cr\u00e9t", 42),
            "POST / HTTP/1.1\r\nHost: 127.0.0.1:8123\r\nX-Korvane-Token: s3cr\u00e9t\r\n"
            "Content-Type: application/json\r\nContent-Length: 42\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(app_request_head(0, "", 7),
            "POST / HTTP/1.1\r\nHost: 127.0.0.1:0\r\nX-Korvane-Token: \r\n"
            "Content-Type: application/json\r\nContent-Length: 7\r\nConnection: close\r\n\r\n");
}

struct ReplyCase {
  const char* name;
  std::string reply;
  std::string expected;  // compact text of the value, or the whole error text
};

class ParseAppReplyTest : public testing::TestWithParam<ReplyCase> {};

TEST_P(ParseAppReplyTest, CutsHeadAtFirstEmptyLine) {
  const auto reply = parse_app_reply(GetParam().reply);
  EXPECT_EQ(reply.ok() ? unquoted(reply.value().text()) : reply.error(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Heads, ParseAppReplyTest,
    testing::Values(
        ReplyCase{"StatusIgnored", "HTTP/1.1 500 Oops\r\nContent-Length: 1\r\n\r\n{\"b\":1,\"a\":2}",
                  R"({"a":2,"b":1})"},
        ReplyCase{"OnlyFirstSeparatorSplits", "H\r\n\r\n[1,\r\n\r\n2]\r\n\r\n", "[1,2]"},
        ReplyCase{"EmptyReply", "", "parse: EOF while parsing a value at line 1 column 0 -- raw=\"\""},
        ReplyCase{"ShorterThanSeparator", "\r\n\r", "parse: EOF while parsing a value at line 1 column 0 -- raw=\"\""},
        ReplyCase{"BareLineFeedsDoNotSplit", "HTTP/1.1 200 OK\n\n{}",
                  "parse: EOF while parsing a value at line 1 column 0 -- raw=\"\""},
        ReplyCase{"ChunkedNotDecoded", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\n{}\r\n0\r\n\r\n",
                  "parse: trailing characters at line 2 column 1 -- raw=\"2\\r\\n{}\\r\\n0\\r\\n\\r\\n\""}),
    [](const testing::TestParamInfo<ReplyCase>& param_info) { return std::string(param_info.param.name); });

Value click_body() { return Value::parse(R"({"method":"click","params":{"y":20,"x":10}})"); }

TEST(PostToApp, SendsHeadAndBodyAndParsesReply) {
  OneShotApp app("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n {\"ok\":true}\n");
  const auto reply = post_to_app(app.port(), "tok", click_body());
  ASSERT_TRUE(reply.ok()) << reply.error();
  EXPECT_EQ(unquoted(reply.value().text()), R"({"ok":true})");
  const std::string body = R"({"method":"click","params":{"x":10,"y":20}})";
  EXPECT_EQ(app.finish(), app_request_head(app.port(), "tok", body.size()) + body);
}

// Content-Length only sizes the buffer: the reply is read to its end whatever it says.
TEST(PostToApp, ContentLengthDoesNotLimitTheReply) {
  for (const char* length : {"2", "123456789012", "99999999999999999999999", "x"}) {
    OneShotApp app(std::string("HTTP/1.1 200 OK\r\ncontent-LENGTH:\t") + length + "\r\n\r\n[\"" +
                   std::string(100000, 'y') + "\"]");
    const auto reply = post_to_app(app.port(), "", click_body());
    ASSERT_TRUE(reply.ok()) << reply.error().substr(0, 200);
    EXPECT_EQ(unquoted(reply.value().text()), "[\"" + std::string(100000, 'y') + "\"]") << length;
  }
}

TEST(PostToApp, ReadsLongReplyWhole) {
  const std::string long_text(3 * 1024 * 1024 + 17, 'x');
  OneShotApp app("HTTP/1.1 200 OK\r\n\r\n[\"" + long_text + "\"]");
  const auto reply = post_to_app(app.port(), "", click_body());
  ASSERT_TRUE(reply.ok()) << reply.error().substr(0, 200);
  EXPECT_EQ(unquoted(reply.value().text()), "[\"" + long_text + "\"]");
}

TEST(PostToApp, AppClosingWithoutReplyIsParseError) {
  OneShotApp app("");
  const auto reply = post_to_app(app.port(), "tok", click_body());
  ASSERT_FALSE(reply.ok());
  EXPECT_EQ(reply.error(), "parse: EOF while parsing a value at line 1 column 0 -- raw=\"\"");
}

// The app hanging up mid-request must surface as an error text, never as SIGPIPE.
TEST(PostToApp, AppHangingUpIsWriteError) {
  OneShotApp app("", /*hang_up_at_once=*/true);
  Value body = click_body();
  body["params"]["text"] = std::string(32 * 1024 * 1024, 'a');
  const auto reply = post_to_app(app.port(), "tok", body);
  ASSERT_FALSE(reply.ok());
  EXPECT_TRUE(reply.error().rfind("write head: ", 0) == 0 || reply.error().rfind("write body: ", 0) == 0)
      << reply.error();
}

std::atomic<int> interruptions{0};

// Signals that interrupt blocking calls (no SA_RESTART) while a slow reply trickles in: every
// interrupted call is resumed and the exchange still succeeds.
TEST(PostToApp, InterruptedCallsAreResumed) {
  struct sigaction action {};
  action.sa_handler = [](int) { interruptions.fetch_add(1); };
  sigemptyset(&action.sa_mask);
  struct sigaction previous {};
  ASSERT_EQ(::sigaction(SIGALRM, &action, &previous), 0);
  const itimerval every_200us{{0, 200}, {0, 200}};
  ASSERT_EQ(::setitimer(ITIMER_REAL, &every_200us, nullptr), 0);

  const std::string text(4000, 'z');
  OneShotApp app("HTTP/1.1 200 OK\r\n\r\n\"" + text + "\"", false, std::chrono::microseconds(500));
  const auto reply = post_to_app(app.port(), "tok", click_body());

  const itimerval off{};
  ::setitimer(ITIMER_REAL, &off, nullptr);
  ::sigaction(SIGALRM, &previous, nullptr);
  ASSERT_TRUE(reply.ok()) << reply.error();
  EXPECT_EQ(unquoted(reply.value().text()), "\"" + text + "\"");
  EXPECT_GT(interruptions.load(), 10);
}

TEST(PostToApp, NothingListeningIsConnectError) {
  const RefusingPort holder;
  const auto reply = post_to_app(holder.port(), "tok", click_body());
  ASSERT_FALSE(reply.ok());
  EXPECT_EQ(reply.error(), "connect: " + os_error_text(ECONNREFUSED));
}

}  // namespace
}  // namespace korvane
