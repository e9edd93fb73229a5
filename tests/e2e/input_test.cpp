// Hostile and unusual input on stdin, and a client that goes away: every line gets its
// answer (or none) and the process never crashes, hangs or lingers.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <string>

#include <gtest/gtest.h>

#include "common/version.h"
#include "json/value.h"
#include "platform/descriptors.h"
#include "support.h"

namespace korvane::e2e {
namespace {

using json::Value;

const std::string kInitialize = R"({"jsonrpc":"2.0","id":1,"method":"initialize"})";
const std::string kInitializeAnswer =
    R"({"jsonrpc":"2.0","id":1,"result":{"capabilities":{"tools":{}},"protocolVersion":"2024-11-05","serverInfo":{"name":"korvane","version":")" +
    std::string(kServerVersion) + "\"}}}";

Environment no_app() { return {"KORVANE_SOCKET_INFO=/nonexistent/korvane/socket-info.json"}; }

struct InputCase {
  std::string label;
  std::string input;
  std::string output;
};

void PrintTo(const InputCase& c, std::ostream* os) { *os << c.label; }

class Input : public testing::TestWithParam<InputCase> {};

TEST_P(Input, GetsExactlyItsAnswerAndExitsCleanly) {
  const ServerRun run = run_server(GetParam().input, no_app(), Duration{120'000});
  EXPECT_TRUE(run.status.success()) << describe(run.status);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out.size(), GetParam().output.size());
  EXPECT_TRUE(run.out == GetParam().output) << run.out.substr(0, 300);
}

std::string parse_error(std::string_view reason) {
  return R"({"jsonrpc":"2.0","id":null,"error":{"code":-32000,"message":"parse: )" + std::string(reason) + "\"}}\n";
}

INSTANTIATE_TEST_SUITE_P(Lines, Input, testing::Values(
    InputCase{"crlf and empty lines", "\n\r\n" + kInitialize + "\r\n\n", kInitializeAnswer + "\n"},
    InputCase{"last line without terminator", kInitialize, kInitializeAnswer + "\n"},
    InputCase{"blanks", "   \n", parse_error("EOF while parsing a value at line 1 column 3")},
    InputCase{"nul byte", std::string("\0", 1) + "\n" + kInitialize + "\n",
              parse_error("expected value at line 1 column 1") + kInitializeAnswer + "\n"},
    InputCase{"nul inside a string", std::string("{\"jsonrpc\":\"2\0\"}\n", 17),
              parse_error("control character (\\\\u0000-\\\\u001F) found while parsing a string at line 1 column 14")},
    InputCase{"invalid utf-8 ends the input", kInitialize + "\n{\"x\":\"\xff\"}\n" + kInitialize + "\n",
              kInitializeAnswer + "\n"},
    InputCase{"ten million brackets in an ignored member",
              R"({"jsonrpc":"2.0","id":1,"method":"initialize","x":)" + std::string(10'000'000, '[') +
                  std::string(10'000'000, ']') + "}\n",
              kInitializeAnswer + "\n"},
    InputCase{"ten million unclosed brackets in an ignored member",
              R"({"jsonrpc":"2.0","id":1,"method":"initialize","x":)" + std::string(10'000'000, '[') + "\n" +
                  kInitialize + "\n",
              parse_error("EOF while parsing a list at line 1 column 10000050") + kInitializeAnswer + "\n"},
    InputCase{"a million brackets as id",
              R"({"jsonrpc":"2.0","id":)" + std::string(1'000'000, '[') + "\n" + kInitialize + "\n",
              parse_error("recursion limit exceeded at line 1 column 149") + kInitializeAnswer + "\n"}));

TEST(LongLines, AHundredMegabyteLineIsReadWhole) {
  const std::string text(100'000'000, 'a');
  const std::string line = tool_call_line(5, "type_text", R"({"text":")" + text + "\"}");
  const ServerRun run = run_server(line + "\n" + kInitialize + "\n", no_app(), Duration{120'000});
  EXPECT_TRUE(run.status.success()) << describe(run.status);
  EXPECT_EQ(run.out,
            R"x({"jsonrpc":"2.0","id":5,"error":{"code":-32000,"message":"korvane GUI is not running (no socket-info.json found)"}})x"
            "\n" + kInitializeAnswer + "\n");
}

// A server whose stdout pipe's read end the test can close, as a client that goes away does.
struct AbandonedServer {
  pid_t pid = -1;
  int stdin_fd = -1;
  int stderr_fd = -1;

  explicit AbandonedServer(const Environment& environment) {
    const std::vector<std::string> command = command_for({server_binary()});
    auto in = platform::open_pipe(platform::Blocking::yes);
    auto out = platform::open_pipe(platform::Blocking::yes);
    auto err = platform::open_pipe(platform::Blocking::yes);
    if (!in || !out || !err) return;
    std::vector<char*> argv, env;
    for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
    for (const std::string& entry : environment) env.push_back(const_cast<char*>(entry.c_str()));
    argv.push_back(nullptr);
    env.push_back(nullptr);
    pid = ::fork();
    if (pid == 0) {
      ::dup2(in->read_end.get(), 0);
      ::dup2(out->write_end.get(), 1);
      ::dup2(err->write_end.get(), 2);
      ::execve(argv[0], argv.data(), env.data());
      ::_exit(127);
    }
    // Nobody reads the answers: the read end of stdout closes with `out`.
    stdin_fd = in->write_end.release();
    stderr_fd = err->read_end.release();
  }

  // Waits up to ten seconds; -1 when the server is still running (then it is killed).
  int wait_status() {
    for (int i = 0; i < 1000; ++i) {
      int status = 0;
      if (::waitpid(pid, &status, WNOHANG) == pid) return status;
      ::usleep(10'000);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return -1;
  }

  std::string stderr_text() {
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(stderr_fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
    return text;
  }

  ~AbandonedServer() {
    if (stdin_fd >= 0) ::close(stdin_fd);
    if (stderr_fd >= 0) ::close(stderr_fd);
  }
};

TEST(ClientGone, ClosedStdoutEndsTheServerWithOneDiagnosticLine) {
  AbandonedServer server(no_app());
  ASSERT_GT(server.pid, 0);
  const std::string line = kInitialize + "\n";
  ASSERT_EQ(::write(server.stdin_fd, line.data(), line.size()), static_cast<ssize_t>(line.size()));
  const int status = server.wait_status();
  ASSERT_NE(status, -1) << "server still running";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0) << status;
  const std::string diagnostic = server.stderr_text();
  EXPECT_EQ(std::count(diagnostic.begin(), diagnostic.end(), '\n'), 1) << diagnostic;
}

TEST(ClientGone, ServerWaitingOnASilentAppDoesNotLingerAsAnOrphan) {
  StandinApp app({.mode = "hang"});
  ASSERT_TRUE(app.ready());
  AbandonedServer server(app.server_environment());
  ASSERT_GT(server.pid, 0);
  const std::string line = tool_call_line(1, "session_wait", R"({"id":"s2","timeout_secs":600})") + "\n";
  ASSERT_EQ(::write(server.stdin_fd, line.data(), line.size()), static_cast<ssize_t>(line.size()));
  const int status = server.wait_status();
  ASSERT_NE(status, -1) << "server still waiting on the app";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0) << status;
}

}  // namespace
}  // namespace korvane::e2e
