// Hostile and unusual input on stdin, non-blocking stdio, lines and replies too large for
// memory, and a client that goes away: every line gets its answer (or none) and the process
// never crashes, hangs, lingers or keeps memory it no longer needs.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "fixtures.h"
#include "json/shared/value.h"
#include "processes.h"

namespace korvane::e2e {
namespace {

using json::Value;

const std::string kInitialize = R"({"jsonrpc":"2.0","id":1,"method":"initialize"})";
const std::string kInitializeAnswer = initialize_answer("1");

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

INSTANTIATE_TEST_SUITE_P(
    Lines, Input,
    testing::Values(
        InputCase{"crlf and empty lines", "\n\r\n" + kInitialize + "\r\n\n", kInitializeAnswer + "\n"},
        InputCase{"last line without terminator", kInitialize, kInitializeAnswer + "\n"},
        InputCase{"blanks", "   \n", parse_error("EOF while parsing a value at line 1 column 3")},
        InputCase{"nul byte", std::string("\0", 1) + "\n" + kInitialize + "\n",
                  parse_error("expected value at line 1 column 1") + kInitializeAnswer + "\n"},
        InputCase{
            "nul inside a string", std::string("{\"jsonrpc\":\"2\0\"}\n", 17),
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

// Resident memory of a running process in KiB, where the system reports it (/proc on Linux).
std::optional<long> resident_kib(pid_t pid) {
  const std::string status = read_file("/proc/" + std::to_string(pid) + "/status");
  const std::size_t at = status.find("VmRSS:");
  if (at != std::string::npos) return std::stol(status.substr(at + 6));
  return std::nullopt;
}

TEST(LongLines, AThreeHundredMegabyteLineIsReadWholeAndItsMemoryGoesBack) {
  // Where memory is not measured (sanitizers, valgrind) a shorter line keeps the run short.
  const std::string text(server_memory_is_its_own() ? 300'000'000 : 100'000'000, 'a');
  Subprocess server({server_binary()}, no_app());
  ASSERT_TRUE(server.write_stdin(
      tool_call_line(5, "type_text", R"({"text":")" + text + "\"}") + "\n" + kInitialize + "\n", Duration{120'000}));
  EXPECT_EQ(
      server.read_line(Duration{120'000}),
      R"x({"jsonrpc":"2.0","id":5,"error":{"code":-32000,"message":"korvane GUI is not running (no socket-info.json found)"}})x");
  EXPECT_EQ(server.read_line(), kInitializeAnswer);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  if (const auto kib = resident_kib(server.pid()); kib && server_memory_is_its_own()) {
    std::cout << "[ measured ] resident 1 s after a 300 MB line: " << *kib << " KiB\n";
    EXPECT_LT(*kib, 64 * 1024);
  }
  server.close_stdin();
  EXPECT_TRUE(server.wait().success());
}

// A line fed in 1 MiB pieces, so that the test itself holds little.
void write_long_line(Subprocess& server, std::size_t length, std::string_view then) {
  const std::string piece(1 << 20, 'a');
  std::string_view head =
      R"({"jsonrpc":"2.0","id":5,"method":"tools/call","params":{"name":"type_text","arguments":{"text":")";
  ASSERT_TRUE(server.write_stdin(head));
  for (std::size_t written = 0; written < length; written += piece.size())
    ASSERT_TRUE(server.write_stdin(piece, Duration{120'000}));
  ASSERT_TRUE(server.write_stdin("\"}}}\n" + std::string(then)));
}

std::string out_of_memory_answer(std::string_view id) {
  return R"({"jsonrpc":"2.0","id":)" + std::string(id) + R"(,"error":{"code":-32000,"message":"read: )" +
         std::strerror(ENOMEM) + " (os error " + std::to_string(ENOMEM) + ")\"}}";
}

TEST(OutOfMemory, ALineTooLongToHoldIsAnsweredWithIdNullAndTheNextLineToo) {
  if (!can_limit_address_space() || !server_memory_is_its_own()) GTEST_SKIP() << "no address-space limit here";
  Subprocess server({server_binary()}, no_app(), {.address_space_limit = std::uint64_t{1} << 30});
  write_long_line(server, std::size_t{640} << 20, kInitialize + "\n");  // beyond 512 MiB: the next doubling fails
  server.close_stdin();
  EXPECT_EQ(server.read_line(Duration{120'000}), out_of_memory_answer("null"));
  EXPECT_EQ(server.read_line(), kInitializeAnswer);
  EXPECT_TRUE(server.wait().success());
  EXPECT_EQ(server.stderr_text(), "");
}

// A socket listening on 127.0.0.1 at a free port, whose address is filled in (port 0 when
// listening failed).
int listen_on_loopback(int backlog, sockaddr_in& address) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  auto* raw = reinterpret_cast<sockaddr*>(&address);
  if (::bind(fd, raw, length) != 0 || ::listen(fd, backlog) != 0 || ::getsockname(fd, raw, &length) != 0) {
    address.sin_port = 0;
  }
  return fd;
}

// The server's environment for an app at this port: a socket-info file in the directory.
Environment app_at(const TempDir& dir, std::uint16_t port) {
  write_file(dir.file("socket-info.json"), R"({"port":)" + std::to_string(port) + R"(,"token":"t"})");
  return {"KORVANE_SOCKET_INFO=" + dir.file("socket-info.json")};
}

// An app that answers its first connection with a head and then body bytes without end,
// until the connection fails.
class EndlessApp {
 public:
  EndlessApp() {
    std::signal(SIGPIPE, SIG_IGN);
    sockaddr_in address{};
    listener_ = listen_on_loopback(1, address);
    port_ = ntohs(address.sin_port);
    if (port_ != 0) server_ = std::thread([this] { serve(); });
  }
  ~EndlessApp() {
    ::shutdown(listener_, SHUT_RDWR);  // ends a wait in accept
    if (server_.joinable()) server_.join();
    ::close(listener_);
  }

  std::uint16_t port() const { return port_; }

 private:
  void serve() const {
    const int client = ::accept(listener_, nullptr, nullptr);
    if (client < 0) return;
    std::string bytes = "HTTP/1.1 200 OK\r\n\r\n[";
    while (::send(client, bytes.data(), bytes.size(), 0) > 0) bytes.assign(1 << 20, ' ');
    ::close(client);
  }

  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::thread server_;
};

TEST(OutOfMemory, AnEndlessReplyIsAnsweredWithTheErrorAndTheNextLineToo) {
  if (!can_limit_address_space() || !server_memory_is_its_own()) GTEST_SKIP() << "no address-space limit here";
  EndlessApp app;
  ASSERT_NE(app.port(), 0);
  TempDir dir;
  const ServerRun run =
      run_server(tool_call_line(1, "screenshot", "{}") + "\n" + kInitialize + "\n", app_at(dir, app.port()),
                 Duration{120'000}, {.address_space_limit = std::uint64_t{1} << 30});
  EXPECT_TRUE(run.status.success()) << describe(run.status);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, out_of_memory_answer("1") + "\n" + kInitializeAnswer + "\n");
}

// The ids answered on each line of a run's stdout ("null" for no id), or nullopt when a line
// is no JSON-RPC answer.
std::optional<std::vector<std::string>> answered_ids(const std::string& out) {
  std::vector<std::string> ids;
  for (const std::string& line : split_lines(out)) {
    const Value answer = Value::parse(line, nullptr, false);
    if (answer.is_discarded() || !answer.is_object() || !answer.contains("id")) return std::nullopt;
    ids.push_back(answer["id"].dump());
  }
  return ids;
}

// A large reply relayed under address-space limits from too small for the relay to enough,
// traced (with trace paths of several lengths: they move what the process holds) and not,
// followed by tools/list: every run ends normally, stdout holds one valid answer per line and
// no id twice, the relay's answer is exactly as without a limit or the out-of-memory error,
// and tools/list is answered in full once a failed call has given its memory back. Limits go
// from the band where the relay only just fails or succeeds in steps of 8 KiB, then by MiB.
// (Below 2 MiB the C library of the static binary cannot finish starting when the limit is
// there at exec: the harness lowers it once the server waits for its first line.)
TEST(OutOfMemory, EveryAddressSpaceLimitGivesOneAnswerAndNoSignal) {
  if (!can_limit_address_space() || !server_memory_is_its_own()) GTEST_SKIP() << "no address-space limit here";
  std::string body = R"({"width":1,"lines":[)";
  for (int i = 0; i < 60'000; ++i) {
    body += (i == 0 ? "{" : ",{") + std::string(R"("text":"caf\u00e9 \"q\" )") + std::to_string(i) +
            R"(","conf":0.5,"y":)" + std::to_string(i % 977) + R"(,"x":)" + std::to_string(i) + "}";
  }
  body += R"(],"image":"shot.png"})";
  const std::string reply = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  const std::string input =
      tool_call_line(1, "screen_ocr", "{}") + "\n" + R"({"jsonrpc":"2.0","id":2,"method":"tools/list"})" + "\n";
  // 0: untraced; else the length of the trace file's name.
  auto relay = [&](std::optional<std::uint64_t> limit, std::size_t trace_name) {
    testing_support::OneShotApp app(reply);
    TempDir dir;
    Environment environment = app_at(dir, app.port());
    if (trace_name > 0) environment.push_back("KORVANE_MCP_TRACE=" + dir.file(std::string(trace_name, 't')));
    return run_server(input, environment, Duration{60'000}, {.address_space_limit = limit});
  };
  const ServerRun unlimited = relay(std::nullopt, 0);
  ASSERT_TRUE(unlimited.status.success()) << describe(unlimited.status);
  const std::vector<std::string> unlimited_lines = split_lines(unlimited.out);
  ASSERT_EQ(unlimited_lines.size(), 2u);
  ASSERT_TRUE(unlimited_lines[0].starts_with(R"({"jsonrpc":"2.0","id":1,"result":{"content":[{"text":")"));
  const std::string& tools_answer = unlimited_lines[1];
  std::vector<std::uint64_t> limits;
  for (std::uint64_t kib = 1800; kib <= 2400; kib += 8) limits.push_back(kib << 10);
  for (std::uint64_t mib = 3; mib <= 24; mib += 3) limits.push_back(mib << 20);
  constexpr std::size_t kTraceNames[] = {0, 20, 60, 110};
  int results = 0, failures = 0, tools_lists = 0;
  for (std::size_t step = 0; step < limits.size(); ++step) {
    for (const std::size_t trace_name : {kTraceNames[step % 4], kTraceNames[(step + 2) % 4]}) {
      const std::string where = std::to_string(limits[step] >> 10) + " KiB, trace name " + std::to_string(trace_name);
      const ServerRun run = relay(limits[step], trace_name);
      ASSERT_TRUE(run.status.success()) << describe(run.status) << " at " << where;
      EXPECT_EQ(run.err, "") << where;
      const auto ids = answered_ids(run.out);
      ASSERT_TRUE(ids.has_value()) << where << ": " << run.out.substr(0, 300);
      std::vector<std::string> numbered = *ids;
      std::erase(numbered, "null");
      std::sort(numbered.begin(), numbered.end());
      EXPECT_TRUE(std::adjacent_find(numbered.begin(), numbered.end()) == numbered.end()) << where;
      const std::vector<std::string> lines = split_lines(run.out);
      ASSERT_FALSE(lines.empty()) << where;
      if (lines[0] == unlimited_lines[0]) {
        ++results;
      } else {
        EXPECT_TRUE(lines[0] == out_of_memory_answer("1") || lines[0] == out_of_memory_answer("null"))
            << where << ": " << lines[0].substr(0, 300);
        ++failures;
      }
      if (lines.size() == 2 && lines[1] == tools_answer) ++tools_lists;
    }
  }
  EXPECT_GT(results, 0);
  EXPECT_GT(failures, 0);
  EXPECT_EQ(tools_lists, results + failures) << "tools/list after the call";
}

TEST(NonBlockingStdio, InputInBurstsAndOutputReadLateLoseNothing) {
  constexpr int kLines = 2000;
  constexpr int kBurst = 100;
  std::string burst;
  for (int i = 0; i < kBurst; ++i) burst += kInitialize + "\n";
  Subprocess server({server_binary()}, no_app(), {.nonblocking_stdio = true});
  // Between bursts the server finds its input empty; nobody reads its output meanwhile, so
  // that pipe fills up and the server finds it full.
  for (int sent = 0; sent < kLines; sent += kBurst) {
    ASSERT_TRUE(server.write_stdin(burst));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  server.close_stdin();
  const std::vector<std::string> lines = split_lines(server.read_stdout_to_end());
  EXPECT_TRUE(server.wait().success());
  EXPECT_EQ(server.stderr_text(), "");
  EXPECT_EQ(lines.size(), static_cast<std::size_t>(kLines));
  EXPECT_EQ(std::count(lines.begin(), lines.end(), kInitializeAnswer), kLines);
}

// A listener on 127.0.0.1 that never accepts: a connection waits in its backlog and nothing it
// is sent is read. With a full backlog, a further connect waits for its handshake instead.
class SilentListener {
 public:
  explicit SilentListener(bool fill_backlog) {
    sockaddr_in address{};
    listener_ = listen_on_loopback(0, address);
    port_ = ntohs(address.sin_port);
    if (port_ == 0 || !fill_backlog) return;
    while (held_.size() < 64 && !filled_) filled_ = !connects_at_once(address);
  }
  ~SilentListener() {
    for (const int fd : held_) ::close(fd);
    ::close(listener_);
  }

  std::uint16_t port() const { return port_; }
  bool backlog_filled() const { return filled_; }

 private:
  // Starts one more connection and holds it; false when its handshake does not finish soon.
  bool connects_at_once(const sockaddr_in& address) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    held_.push_back(fd);
    ::fcntl(fd, F_SETFL, O_NONBLOCK);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return true;
    pollfd entry{fd, POLLOUT, 0};
    return ::poll(&entry, 1, 200) == 1;
  }

  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::vector<int> held_;
  bool filled_ = false;
};

enum class Blocker { none, silent_app, app_never_reading, full_backlog };

struct GoneCase {
  std::string label;
  Blocker blocker;
  std::string line;
};

void PrintTo(const GoneCase& c, std::ostream* os) { *os << c.label; }

class ClientGone : public testing::TestWithParam<GoneCase> {};

// Wherever the server waits, the reader of its stdout going away ends it within about a
// second, as a failed write of an answer does: status 1 and one diagnostic line.
TEST_P(ClientGone, EndsTheServerSoonWithTheDiagnosticOfAFailedWrite) {
  const GoneCase& c = GetParam();
  std::optional<StandinApp> app;
  std::optional<SilentListener> listener;
  TempDir dir;
  Environment environment = no_app();
  if (c.blocker == Blocker::silent_app) {
    app.emplace(StandinOptions{.mode = "hang"});
    ASSERT_TRUE(app->ready());
    environment = app->server_environment();
  } else if (c.blocker != Blocker::none) {
    listener.emplace(c.blocker == Blocker::full_backlog);
    ASSERT_NE(listener->port(), 0);
    if (c.blocker == Blocker::full_backlog && !listener->backlog_filled()) GTEST_SKIP() << "backlog never filled";
    environment = app_at(dir, listener->port());
  }
  Subprocess server({server_binary()}, environment);
  if (c.blocker == Blocker::none) server.close_stdout();
  ASSERT_TRUE(server.write_stdin(c.line + "\n"));
  if (c.blocker != Blocker::none) {
    std::this_thread::sleep_for(std::chrono::seconds(1));  // time to reach the blocking point
    server.close_stdout();
  }
  const auto gone = std::chrono::steady_clock::now();
  const ExitStatus status = server.wait(Duration{10'000});
  const auto took = std::chrono::duration<double>(std::chrono::steady_clock::now() - gone).count();
  std::cout << "[ measured ] " << c.label << ": exit " << took << " s after the client went\n";
  EXPECT_TRUE(status.exited && status.code == 1) << describe(status);
  EXPECT_EQ(server.stderr_text(), std::string("korvane-mcp: cannot write to standard output: ") + std::strerror(EPIPE) +
                                      " (os error " + std::to_string(EPIPE) + ")\n");
}

INSTANTIATE_TEST_SUITE_P(
    Blockers, ClientGone,
    testing::Values(GoneCase{"answer written to a closed pipe", Blocker::none, kInitialize},
                    GoneCase{"waiting on a silent app", Blocker::silent_app,
                             tool_call_line(1, "session_wait", R"({"id":"s2","timeout_secs":600})")},
                    GoneCase{"sending to an app that never reads", Blocker::app_never_reading,
                             tool_call_line(1, "type_text", R"({"text":")" + std::string(16'000'000, 't') + "\"}")},
                    GoneCase{"connecting to a full backlog", Blocker::full_backlog,
                             tool_call_line(1, "click", R"({"x":1,"y":2})")}));

}  // namespace
}  // namespace korvane::e2e
