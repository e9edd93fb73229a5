// Test support: the command that runs a project binary, runs of the server and of --check,
// request lines, raw exchanges with a loopback port and files handed to another account.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <sstream>

#include <gtest/gtest.h>

#include "platform/descriptors.h"
#include "processes.h"

namespace korvane::e2e {
namespace {

using Clock = std::chrono::steady_clock;

// The words of $KORVANE_TEST_EMULATOR.
std::vector<std::string> emulator_words() {
  const char* text = std::getenv("KORVANE_TEST_EMULATOR");
  std::istringstream stream(text != nullptr ? text : "");
  std::vector<std::string> words;
  for (std::string word; stream >> word;) words.push_back(word);
  return words;
}

}  // namespace

std::vector<std::string> command_for(std::vector<std::string> argv) {
  if (argv.empty() || (argv[0] != KORVANE_MCP_BINARY && argv[0] != KORVANE_STANDIN_BINARY)) return argv;
  std::vector<std::string> command = emulator_words();
  command.insert(command.end(), argv.begin(), argv.end());
  return command;
}

std::string tool_call_line(int id, std::string_view name, std::string_view arguments_json) {
  std::string line = R"({"jsonrpc":"2.0","id":)" + std::to_string(id) + R"(,"method":"tools/call","params":{"name":")" +
                     std::string(name) + "\"";
  if (!arguments_json.empty()) line += ",\"arguments\":" + std::string(arguments_json);
  return line + "}}";
}

RawReply exchange_raw(std::uint16_t port, std::string_view request, Duration timeout, bool half_close) {
  const Clock::time_point deadline = Clock::now() + timeout;
  RawReply reply;
  const UniqueFd socket = platform::open_tcp_socket(platform::Blocking::yes);
  const int fd = socket.get();
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    reply.error = errno;
    return reply;
  }
  if (!platform::set_nonblocking(fd)) {
    reply.error = errno;
    return reply;
  }
  std::size_t sent = 0;
  for (;;) {
    const bool sending = sent < request.size();
    pollfd watched{fd, static_cast<short>(sending ? POLLIN | POLLOUT : POLLIN), 0};
    const int ready = ::poll(&watched, 1, milliseconds_until(deadline));
    if (ready == 0) {
      ADD_FAILURE() << "timed out talking to 127.0.0.1:" << port;
      reply.error = ETIMEDOUT;
      break;
    }
    if (ready < 0 && errno == EINTR) continue;
    if (sending && (watched.revents & POLLOUT) != 0) {
      const ssize_t written = platform::send_no_sigpipe(fd, request.data() + sent, request.size() - sent);
      if (written > 0) {
        sent += static_cast<std::size_t>(written);
        if (half_close && sent == request.size()) ::shutdown(fd, SHUT_WR);
      } else if (errno != EAGAIN && errno != EINTR) {
        reply.error = errno;
        break;
      }
    }
    if ((watched.revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
    char chunk[65536];
    const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
    if (got == 0) break;
    if (got > 0) {
      reply.bytes.append(chunk, static_cast<std::size_t>(got));
    } else if (errno != EAGAIN && errno != EINTR) {
      reply.error = errno;
      break;
    }
  }
  return reply;
}

// ---------------------------------------------------------------------------------------------
// --check and files of other accounts

std::string CheckRun::flat() const {
  std::string text;
  for (const char c : out) {
    if (c != ' ' && c != '\n') {
      text += c;
    } else if (!text.empty() && text.back() != ' ') {
      text += ' ';
    }
  }
  return text;
}

CheckRun run_check(const Environment& environment) {
  Subprocess check({server_binary(), "--check"}, environment);
  CheckRun run;
  run.status = check.wait(Duration{20'000});
  run.out = check.read_stdout_to_end(Duration{1'000});
  EXPECT_EQ(check.stderr_text(), "");
  return run;
}

bool give_away(const std::string& path) {
  constexpr uid_t kNobody = 65534;
  return ::chown(path.c_str(), kNobody, kNobody) == 0;
}

// ---------------------------------------------------------------------------------------------
// The server

std::string server_binary() {
  const char* override_path = std::getenv("KORVANE_E2E_SERVER");
  return override_path != nullptr && *override_path != '\0' ? override_path : KORVANE_MCP_BINARY;
}

bool server_memory_is_its_own() {
#if defined(__SANITIZE_ADDRESS__)
  return false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  return false;
#endif
#endif
  // Under an emulator its limits and its memory are the emulator's as well.
  return server_binary() == KORVANE_MCP_BINARY && command_for({KORVANE_MCP_BINARY}).size() == 1;
}

ServerRun run_server(std::string_view input, const Environment& environment, Duration timeout, SpawnOptions options) {
  const Clock::time_point deadline = Clock::now() + timeout;
  Subprocess server({server_binary()}, environment, options);
  ServerRun run;
  if (!server.started()) return run;
  server.write_stdin(input, timeout);
  server.close_stdin();
  run.out = server.read_stdout_to_end(std::chrono::milliseconds(std::max(milliseconds_until(deadline), 1)));
  run.status = server.wait(std::chrono::milliseconds(std::max(milliseconds_until(deadline), 1)));
  run.err = server.stderr_text();
  return run;
}

}  // namespace korvane::e2e
