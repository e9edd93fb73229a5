// The stand-in desktop app itself, and the support code that drives it and the server.
#include <signal.h>
#include <sys/wait.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "bridge/app_channel.h"
#include "common/posix.h"
#include "json/shared/value.h"
#include "processes.h"
#include "testkit/spawn.h"

namespace korvane::e2e {
namespace {

using json::Value;

// The request exactly as korvane-mcp writes it.
std::string app_request(std::uint16_t port, std::string_view token, std::string_view body) {
  return app_request_head(port, token, body.size()) + std::string(body);
}

std::string body_of(const std::string& reply) {
  const std::size_t end = reply.find("\r\n\r\n");
  return end == std::string::npos ? "" : reply.substr(end + 4);
}

// Posts one app request body with the app's own token and returns the parsed reply body.
Value call(StandinApp& app, const Value& body) {
  const RawReply reply = exchange_raw(app.port(), app_request(app.port(), app.token(), body.dump()));
  EXPECT_EQ(reply.error, 0);
  const Value parsed = Value::parse(body_of(reply.bytes), nullptr, false);
  EXPECT_FALSE(parsed.is_discarded()) << reply.bytes;
  return parsed;
}

TEST(StandinApp, PublishesSocketInfoUntilStopped) {
  StandinApp app({.token = "fixed-token"});
  ASSERT_TRUE(app.ready());
  EXPECT_EQ(read_file(app.socket_info_path()),
            R"({"port":)" + std::to_string(app.port()) + R"(,"token":"fixed-token"})");
  EXPECT_TRUE(app.stop().success());
  EXPECT_FALSE(std::filesystem::exists(app.socket_info_path()));
}

TEST(StandinApp, MakesA32DigitHexTokenByDefault) {
  StandinApp app;
  ASSERT_TRUE(app.ready());
  EXPECT_EQ(app.token().size(), 32u);
  EXPECT_EQ(app.token().find_first_not_of("0123456789abcdef"), std::string::npos) << app.token();
}

TEST(StandinApp, RejectsAWrongOrMissingToken) {
  StandinApp app({.token = "right"});
  ASSERT_TRUE(app.ready());
  const std::string body = R"({"method":"screenshot"})";
  const std::string without_token =
      "POST / HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  struct Case {
    std::string request;
    std::string status_line;
  };
  const Case cases[] = {
      {app_request(app.port(), "right", body), "HTTP/1.1 200 OK\r\n"},
      {app_request(app.port(), "wrong", body), "HTTP/1.1 401 Unauthorized\r\n"},
      {app_request(app.port(), "righ", body), "HTTP/1.1 401 Unauthorized\r\n"},
      {app_request(app.port(), "", body), "HTTP/1.1 401 Unauthorized\r\n"},
      {without_token, "HTTP/1.1 401 Unauthorized\r\n"},
  };
  for (const Case& c : cases) {
    const RawReply reply = exchange_raw(app.port(), c.request);
    EXPECT_TRUE(reply.bytes.starts_with(c.status_line)) << c.request << "\n->\n" << reply.bytes;
    if (c.status_line.find("401") != std::string::npos) {
      EXPECT_EQ(body_of(reply.bytes), R"({"error":"invalid token"})");
    }
  }
}

TEST(StandinApp, RecordsEveryRequestByteForByte) {
  StandinApp app;
  ASSERT_TRUE(app.ready());
  const std::string first = app_request(app.port(), app.token(), R"({"method":"click","params":{"x":1,"y":2}})");
  const std::string second =
      app_request(app.port(), "not-the-token", "{\"method\":\"type_text\",\"params\":{\"text\":\"\xE2\x80\x94\\n\"}}");
  exchange_raw(app.port(), first);
  exchange_raw(app.port(), second);
  const std::vector<RecordedRequest> recorded = app.recorded_requests();
  ASSERT_EQ(recorded.size(), 2u);
  EXPECT_EQ(recorded[0].head + recorded[0].body, first);
  EXPECT_EQ(recorded[1].head + recorded[1].body, second);
}

TEST(StandinApp, SpawnedSessionIsListedUntilKilled) {
  StandinApp app;
  ASSERT_TRUE(app.ready());
  const Value spawned =
      call(app, {{"method", "session_spawn"}, {"params", {{"session_id", "s1"}, {"label", "child"}}}});
  ASSERT_TRUE(spawned.contains("id")) << spawned;
  const std::string id = spawned["id"].get<std::string>();
  const auto listed = [&](const std::string& wanted) {
    const Value list = call(app, {{"method", "sessions_list"}, {"params", {{"session_id", "s1"}}}});
    for (const Value& session : list["sessions"]) {
      if (session["id"] == wanted) return session;
    }
    return Value();
  };
  EXPECT_EQ(listed(id)["label"], "child");
  EXPECT_EQ(listed(id)["isSelf"], false);
  EXPECT_EQ(listed("s1")["isSelf"], true);

  EXPECT_EQ(call(app, {{"method", "session_kill"}, {"params", {{"session_id", "s1"}, {"id", "s1"}}}}),
            Value({{"error", "cannot kill your own session"}}));
  EXPECT_EQ(call(app, {{"method", "session_kill"}, {"params", {{"session_id", "s1"}, {"id", id}}}})["ok"], true);
  EXPECT_TRUE(listed(id).is_null());
  EXPECT_FALSE(listed("s1").is_null());
}

TEST(StandinApp, ReplaysReplyBodiesThenAnswersNormally) {
  TempDir dir;
  // Plain hex lines and conformance-vector lines mix; an empty line is an empty body.
  write_file(dir.file("replies"), "7b226f6b223a747275657d\n\n{\"body_hex\": \"6f6b0a\", \"error\": \"x\"}\n");
  StandinApp app({.replies_file = dir.file("replies")});
  ASSERT_TRUE(app.ready());
  const std::string request =
      app_request(app.port(), app.token(), R"({"method":"notify","params":{"body":"b","title":"t"}})");
  EXPECT_EQ(exchange_raw(app.port(), request).bytes,
            "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 11\r\nConnection: close\r\n\r\n"
            R"({"ok":true})");
  EXPECT_EQ(body_of(exchange_raw(app.port(), request).bytes), "");
  EXPECT_EQ(body_of(exchange_raw(app.port(), request).bytes), "ok\n");
  EXPECT_EQ(body_of(exchange_raw(app.port(), request).bytes), R"({"body":"b","ok":true,"title":"t"})");
}

TEST(StandinApp, BodyFileModeSendsTheFileAsIs) {
  TempDir dir;
  const std::string body = "{\"big\":\"" + std::string(300'000, 'x') + "\"}\n";
  write_file(dir.file("body"), body);
  StandinApp app({.mode = "body-file", .body_file = dir.file("body")});
  ASSERT_TRUE(app.ready());
  for (int round = 0; round < 3; ++round) {
    const RawReply reply = exchange_raw(app.port(), app_request(app.port(), app.token(), R"({"method":"screenshot"})"));
    EXPECT_TRUE(reply.bytes.starts_with("HTTP/1.1 200 OK\r\n"));
    EXPECT_EQ(body_of(reply.bytes), body);
  }
  const RawReply refused = exchange_raw(app.port(), app_request(app.port(), "wrong", R"({"method":"screenshot"})"));
  EXPECT_TRUE(refused.bytes.starts_with("HTTP/1.1 401 Unauthorized\r\n")) << refused.bytes;
}

TEST(StandinApp, MisbehavesAsEachModeSays) {
  struct Case {
    std::string mode;
    std::string expected;  // the whole reply, or its start when `prefix`
    bool prefix;
    int error;
  };
  const Case cases[] = {
      {"status500", "HTTP/1.1 500 Internal Server Error\r\n", true, 0},
      {"chunked", "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nTransfer-Encoding: chunked\r\n", true, 0},
      {"non-json",
       "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 9\r\nConnection: close\r\n\r\nnot json\n",
       false, 0},
      {"two-values",
       "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 15\r\nConnection: close\r\n\r\n{\"a\":1} "
       "{\"b\":2}",
       false, 0},
      {"no-blank-line", "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\n", false, 0},
      {"close-after-read", "", false, 0},
      {"reset", "", false, ECONNRESET},
      {"refuse", "", false, ECONNREFUSED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    StandinApp app({.mode = c.mode});
    ASSERT_TRUE(app.ready());
    const RawReply reply = exchange_raw(app.port(), app_request(app.port(), app.token(), R"({"method":"screenshot"})"));
    EXPECT_EQ(reply.error, c.error);
    if (c.prefix) {
      EXPECT_TRUE(reply.bytes.starts_with(c.expected)) << reply.bytes;
    } else {
      EXPECT_EQ(reply.bytes, c.expected);
    }
  }
}

TEST(StandinApp, ChunkedAndSlowModesCarryTheNormalReply) {
  StandinApp chunked({.mode = "chunked"});
  StandinApp slow({.mode = "slow", .delay_ms = 0});
  ASSERT_TRUE(chunked.ready() && slow.ready());
  const std::string body = R"({"method":"click","params":{"x":3,"y":4}})";
  EXPECT_EQ(body_of(exchange_raw(chunked.port(), app_request(chunked.port(), chunked.token(), body)).bytes),
            "17\r\n{\"ok\":true,\"x\":3,\"y\":4}\r\n0\r\n\r\n");
  EXPECT_EQ(body_of(exchange_raw(slow.port(), app_request(slow.port(), slow.token(), body)).bytes),
            R"({"ok":true,"x":3,"y":4})");
}

TEST(StandinApp, SurvivesBrokenRequests) {
  StandinApp app;
  ASSERT_TRUE(app.ready());
  const std::string broken[] = {
      "\r\n\r\n",
      "POST / HTTP/1.1\r\nContent-Length: nine\r\n\r\n",
      "POST / HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\n",
      "POST / HTTP/1.1\r\nno colon here\r\n\r\n",
      app_request(app.port(), app.token(), "not json"),
      app_request(app.port(), app.token(), R"({"method":7})"),
      app_request(app.port(), app.token(), R"({"method":"session_wait","params":[1]})"),
      app_request(app.port(), app.token(),
                  R"({"method":"screen_learn","params":{"name":"n","x":1e300,"y":0,"w":1,"h":1}})"),
      app_request(app.port(), app.token(), "{\"method\":\"type_text\",\"params\":{\"text\":\"\xFF\"}}"),
      "POST / HTTP/1.1\r\nContent-Length: 10\r\n\r\nshort",  // the client gives up half-way
  };
  for (const std::string& request : broken) {
    const RawReply reply = exchange_raw(app.port(), request, kDefaultTimeout, true);
    if (!request.ends_with("short")) {
      EXPECT_TRUE(reply.bytes.starts_with("HTTP/1.1 ")) << request;
    }
  }
  EXPECT_EQ(call(app, {{"method", "double_click"}, {"params", {{"x", 1}, {"y", 2}}}})["ok"], true);
}

TEST(Subprocess, LargeInputAndOutputDoNotDeadlock) {
  const std::string input(4 << 20, 'k');
  Subprocess cat({"/bin/cat"}, {});
  ASSERT_TRUE(cat.started());
  EXPECT_TRUE(cat.write_stdin(input));
  cat.close_stdin();
  EXPECT_EQ(cat.read_stdout_to_end().size(), input.size());
  EXPECT_TRUE(cat.wait().success());
}

// As the benchmark starts its children: a bare program name is looked up in our PATH only when
// asked, and stderr is appended to a file that already holds something.
TEST(Spawn, SearchesPathOnlyWhenAskedAndAppendsStderr) {
  TempDir dir;
  const std::string log = dir.file("stderr.log");
  write_file(log, "earlier\n");
  const auto run = [&](bool search_path) -> Outcome<int> {
    auto pid =
        testkit::spawn({"sh", "-c", "echo said >&2"}, {}, {.err = {.append_path = log}, .search_path = search_path});
    if (!pid) return error_text(pid.error());
    int status = 0;
    while (::waitpid(pid.value(), &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  // POSIX lets posix_spawn report a failed exec either itself or as the child's exit status 127
  // (qemu-user does the latter).
  const Outcome<int> bare = run(false);
  if (bare) {
    EXPECT_EQ(bare.value(), 127);
  } else {
    EXPECT_EQ(bare.error(), "spawn sh: " + os_error_text(ENOENT));
  }
  const Outcome<int> searched = run(true);
  ASSERT_TRUE(searched) << searched.error();
  EXPECT_EQ(searched.value(), 0);
  EXPECT_EQ(read_file(log), "earlier\nsaid\n");
}

TEST(RunServer, RelaysOneToolCallThroughTheStandin) {
  StandinApp app;
  ASSERT_TRUE(app.ready());
  const ServerRun run =
      run_server(tool_call_line(5, "click", R"({"y":20,"x":10})") + "\n", app.server_environment("s1"));
  EXPECT_TRUE(run.status.success()) << describe(run.status);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(
      run.out,
      R"({"jsonrpc":"2.0","id":5,"result":{"content":[{"text":"{\"ok\":true,\"x\":10,\"y\":20}","type":"text"}]}})"
      "\n");
  const std::vector<RecordedRequest> recorded = app.recorded_requests();
  ASSERT_EQ(recorded.size(), 1u);
  EXPECT_EQ(recorded[0].head + recorded[0].body,
            app_request(app.port(), app.token(), R"({"method":"click","params":{"x":10,"y":20}})"));
}

}  // namespace
}  // namespace korvane::e2e
