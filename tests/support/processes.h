// Test support: child processes over pipes, the stand-in desktop app, and runs of
// the real korvane-mcp binary. Every wait is bounded; a time-out is reported as a test failure.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "base/unique_fd.h"
#include "common/version.h"
#include "files.h"

namespace korvane::e2e {

using testing_support::from_hex;
using testing_support::load_jsonl;
using testing_support::read_file;
using testing_support::split_lines;
using testing_support::TempDir;
using testing_support::write_file;

// "NAME=value" entries: exactly the environment a child gets (nothing is inherited).
using Environment = std::vector<std::string>;
using Duration = std::chrono::milliseconds;

inline constexpr Duration kDefaultTimeout{20'000};

// Milliseconds left until the deadline (0 once it has passed), as poll(2) takes them.
int milliseconds_until(std::chrono::steady_clock::time_point deadline);

struct ExitStatus {
  bool exited = false;  // ended through exit(); `code` holds its status
  int code = -1;
  int signal = 0;          // the terminating signal when it did not exit
  bool timed_out = false;  // still running at the deadline, then killed

  bool success() const { return exited && code == 0; }
};

// "exit 0", "signal 9" or "timed out"; gtest prints statuses this way.
std::string describe(const ExitStatus& status);
void PrintTo(const ExitStatus& status, std::ostream* out);

// How a child is started beyond its arguments and environment.
struct SpawnOptions {
  bool nonblocking_stdio = false;                      // the child's ends of its stdin and stdout pipes are O_NONBLOCK
  std::optional<std::uint64_t> address_space_limit{};  // RLIMIT_AS, set once it waits for its first line
};

// Whether SpawnOptions::address_space_limit can be had here (Linux: prlimit).
bool can_limit_address_space();

// A child process with its stdin, stdout and stderr connected to pipes. Output is drained
// whenever the test waits for anything, so a child never blocks on a full pipe.
class Subprocess {
 public:
  Subprocess(std::vector<std::string> argv, Environment environment, SpawnOptions options = {});
  ~Subprocess();  // kills (SIGKILL) and reaps a child that is still running
  Subprocess(const Subprocess&) = delete;
  Subprocess& operator=(const Subprocess&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

  // Writes all bytes to the child's stdin, reading its output meanwhile. False when the
  // child closed its stdin (not a failure by itself) or on time-out (a failure).
  bool write_stdin(std::string_view bytes, Duration timeout = kDefaultTimeout);
  void close_stdin();
  // Closes the read end of the child's stdout, as a client that goes away does.
  void close_stdout();

  // The next stdout line without its "\n" (the unterminated rest at end of output counts as
  // a line); nullopt at end of output or on time-out (a failure).
  std::optional<std::string> read_line(Duration timeout = kDefaultTimeout);

  // Waits until stdout has bytes to read, reading none of them (a client that reads slowly);
  // false on time-out.
  bool wait_for_stdout(Duration timeout = kDefaultTimeout);

  // All stdout not yet returned by read_line, up to end of output.
  std::string read_stdout_to_end(Duration timeout = kDefaultTimeout);

  // Everything the child wrote to stderr so far.
  const std::string& stderr_text();

  // Waits for the child to end, draining its output; on time-out kills it (a failure).
  ExitStatus wait(Duration timeout = kDefaultTimeout);
  // The same, reading nothing of its output meanwhile: a client that stopped reading.
  ExitStatus wait_unread(Duration timeout = kDefaultTimeout);

  void send_signal(int signal);
  // SIGKILL and reap.
  ExitStatus kill();

 private:
  enum class Pumped { progress, idle, failed };
  Pumped pump(int timeout_ms, bool want_stdin);
  void drain(UniqueFd& fd, std::string& into);
  bool reap(int options);

  pid_t pid_ = -1;
  UniqueFd stdin_fd_;
  UniqueFd stdout_fd_;
  UniqueFd stderr_fd_;
  std::string stdout_;
  std::size_t stdout_consumed_ = 0;
  std::string stderr_;
  std::optional<ExitStatus> status_;
  std::string name_;
};

// Designated initializers pick what differs: StandinApp app({.mode = "slow", .delay_ms = 5});
struct StandinOptions {
  std::string mode = "normal";
  std::optional<std::string> token{};  // else the stand-in makes a random one
  std::optional<int> delay_ms{};
  std::optional<std::string> body_file{};
  std::optional<std::string> replies_file{};  // one hex body per line (or {"body_hex":...} lines)
  std::optional<std::uint16_t> port{};
  bool record = true;
  std::vector<std::string> extra_arguments{};
};

struct RecordedRequest {
  std::string head;  // the request head including the final CR LF CR LF
  std::string body;
};

// The stand-in desktop app, started with a socket-info file in a temporary directory and
// ready to serve once constructed; stopped with SIGTERM when destroyed.
class StandinApp {
 public:
  explicit StandinApp(StandinOptions options = {});
  ~StandinApp();
  StandinApp(const StandinApp&) = delete;
  StandinApp& operator=(const StandinApp&) = delete;

  bool ready() const { return port_ != 0; }
  std::uint16_t port() const { return port_; }
  const std::string& token() const { return token_; }
  const std::string& socket_info_path() const { return socket_info_path_; }
  const std::string& record_path() const { return record_path_; }
  const TempDir& dir() const { return dir_; }
  Subprocess& process() { return *process_; }

  // The requests received so far, from the --record file.
  std::vector<RecordedRequest> recorded_requests() const;

  // The environment for korvane-mcp: KORVANE_SOCKET_INFO pointing at this app, and
  // KORVANE_SESSION_ID when a session id is given.
  Environment server_environment(const std::optional<std::string>& session_id = std::nullopt) const;

  // SIGTERM, then waits for the exit; later calls return the same status.
  ExitStatus stop();

 private:
  TempDir dir_;
  std::string socket_info_path_;
  std::string record_path_;
  std::optional<Subprocess> process_;
  std::uint16_t port_ = 0;
  std::string token_;
  std::optional<ExitStatus> stopped_;
};

// The server under test: $KORVANE_E2E_SERVER when set (a wrapper, say one that runs it under
// valgrind), else the binary this suite was built with.
std::string server_binary();

// The server runs as itself: not wrapped, and not built with AddressSanitizer, whose shadow
// memory needs far more address space than a small RLIMIT_AS allows and whose allocator
// keeps freed memory in quarantine. Memory figures and limits apply only then.
bool server_memory_is_its_own();

// The command that runs argv: the project's own binaries (the server, the stand-in app) run
// through $KORVANE_TEST_EMULATOR when it is set ("qemu-aarch64-static", say: binaries built for
// another machine). Subprocess applies it; code that starts processes by itself calls it.
std::vector<std::string> command_for(std::vector<std::string> argv);

struct ServerRun {
  std::string out;  // stdout
  std::string err;  // stderr
  ExitStatus status;
};

// Runs korvane-mcp with exactly this environment, feeds it the input bytes, closes its stdin
// and collects everything it writes until it exits.
ServerRun run_server(std::string_view input, const Environment& environment, Duration timeout = kDefaultTimeout,
                     SpawnOptions options = {});

// A run of korvane-mcp --check.
struct CheckRun {
  std::string out;
  ExitStatus status;
  // The report as one line: wrapped prose is found whatever the width of a path before it.
  std::string flat() const;
};

// Runs --check with stdin an open pipe that is never written nor closed: it must not wait on
// it. Anything on its stderr fails the test.
CheckRun run_check(const Environment& environment);

// Hands a file to another account (nobody); false when this process may not (it is not root).
bool give_away(const std::string& path);

// One tools/call request line (without the line break); no "arguments" member when
// arguments_json is empty.
std::string tool_call_line(int id, std::string_view name, std::string_view arguments_json);

// The server's answer to an initialize request whose id is the JSON text `id_json`.
inline std::string initialize_answer(std::string_view id_json) {
  return R"({"jsonrpc":"2.0","id":)" + std::string(id_json) +
         R"(,"result":{"capabilities":{"tools":{}},"protocolVersion":"2024-11-05","serverInfo":{"name":"korvane","version":")" +
         std::string(kServerVersion) + "\"}}}";
}

struct RawReply {
  std::string bytes;  // everything received before the peer closed (or the error)
  int error = 0;      // errno of a failed connect, write or read (ECONNREFUSED, ECONNRESET...)
};

// Sends raw bytes to 127.0.0.1:port and reads until the peer closes; a time-out is a failure
// and gives ETIMEDOUT. With half_close the sending side is shut once the bytes are out.
RawReply exchange_raw(std::uint16_t port, std::string_view request, Duration timeout = kDefaultTimeout,
                      bool half_close = false);

}  // namespace korvane::e2e
