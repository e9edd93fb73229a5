// The command line of the real binary: options answer and exit, usage errors are one line on
// stderr with status 2, non-options leave the server serving, and every option's output that
// cannot be written is a failure.
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/eintr.h"
#include "common/version.h"
#include "platform/descriptors.h"
#include "platform/os_error.h"
#include "processes.h"
#include "setup/client_entries.h"
#include "testkit/spawn.h"

namespace korvane::e2e {
namespace {

const std::string kInitialize = R"({"jsonrpc":"2.0","id":99,"method":"initialize"})";
const std::string kVersionLine = "korvane-mcp " + std::string(kServerVersion) + "\n";
const Environment kNoApp = {"KORVANE_SOCKET_INFO=/nonexistent/korvane/socket-info.json"};

std::string usage_error(const std::string& problem, const std::string& hint = "korvane-mcp --help lists the options") {
  return "korvane-mcp: " + problem + "; " + hint + "\n";
}

struct ArgumentsCase {
  std::string label;
  std::vector<std::string> arguments;
  std::string input;  // written, then stdin is closed; when empty stdin stays open
  std::string out;    // everything on stdout; with input, a prefix of it
  int status = 0;
  std::string err{};
};

void PrintTo(const ArgumentsCase& c, std::ostream* os) { *os << c.label; }

class Arguments : public testing::TestWithParam<ArgumentsCase> {};

// An option answers without reading stdin (it is left open); so does a usage error.
TEST_P(Arguments, GiveExactlyTheirOutputAndStatus) {
  std::vector<std::string> argv = {server_binary()};
  argv.insert(argv.end(), GetParam().arguments.begin(), GetParam().arguments.end());
  Subprocess server(argv, kNoApp);
  if (!GetParam().input.empty()) {
    ASSERT_TRUE(server.write_stdin(GetParam().input));
    server.close_stdin();
  }
  const std::string out = server.read_stdout_to_end();
  if (GetParam().input.empty()) {
    EXPECT_EQ(out, GetParam().out);
  } else {
    EXPECT_EQ(out.rfind(GetParam().out, 0), 0u) << out;
  }
  const ExitStatus status = server.wait();
  EXPECT_TRUE(status.exited && status.code == GetParam().status) << describe(status);
  EXPECT_EQ(server.stderr_text(), GetParam().err);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, Arguments,
    testing::Values(ArgumentsCase{"version", {"--version"}, "", kVersionLine},
                    ArgumentsCase{"short version", {"-V"}, "", kVersionLine},
                    ArgumentsCase{"the first option decides", {"stdio", "-V", "--bogus"}, "", kVersionLine},
                    ArgumentsCase{"non-options and everything after -- are left alone",
                                  {"stdio", "-", "--", "--bogus", "-V"},
                                  kInitialize + "\n",
                                  R"({"jsonrpc":"2.0","id":99,"result":)"},
                    ArgumentsCase{
                        "a mistyped option", {"--chek"}, "", "", 2, usage_error(R"(unknown option "--chek")")},
                    ArgumentsCase{"an unknown short option", {"-v"}, "", "", 2, usage_error(R"(unknown option "-v")")},
                    ArgumentsCase{"an unknown option before a known one",
                                  {"--stdio", "--version"},
                                  "",
                                  "",
                                  2,
                                  usage_error(R"(unknown option "--stdio")")},
                    ArgumentsCase{"an option with a line break stays on one line",
                                  {"--x\ny"},
                                  "",
                                  "",
                                  2,
                                  usage_error(R"(unknown option "--x\ny")")},
                    ArgumentsCase{"the list of clients",
                                  {"--print-config"},
                                  "",
                                  "korvane-mcp --print-config CLIENT [--add-command] prints the entry for one of:\n" +
                                      setup::client_list()},
                    ArgumentsCase{"an unknown client",
                                  {"--print-config", "claude"},
                                  "",
                                  "",
                                  2,
                                  usage_error(R"(unknown client "claude")", "korvane-mcp --print-config lists them")},
                    ArgumentsCase{"a client without an add command",
                                  {"--print-config", "cursor", "--add-command"},
                                  "",
                                  "",
                                  2,
                                  usage_error("Cursor has no command that adds a server",
                                              "paste what korvane-mcp --print-config cursor prints")},
                    ArgumentsCase{"a word after the client",
                                  {"--print-config", "zed", "--json"},
                                  "",
                                  "",
                                  2,
                                  usage_error(R"(unexpected argument "--json")",
                                              "usage: korvane-mcp --print-config [CLIENT [--add-command]]")}));

TEST(Arguments, HelpSaysWhatItIsAndNamesEveryVariableWithStdinOpen) {
  Subprocess server({server_binary(), "--help"}, {});
  const std::string out = server.read_stdout_to_end();
  EXPECT_TRUE(server.wait().success());
  EXPECT_EQ(out.rfind("korvane-mcp " + std::string(kServerVersion) + ": ", 0), 0u) << out;
  for (const char* part :
       {"agent client", "standard input and output", "usage: korvane-mcp", "-V, --version", "-h, --help",
        "--print-config", "KORVANE_SOCKET_INFO", "KORVANE_SESSION_ID", "HOME", "TMPDIR"}) {
    EXPECT_NE(out.find(part), std::string::npos) << part;
  }
  Subprocess short_form({server_binary(), "-h"}, {});
  EXPECT_EQ(short_form.read_stdout_to_end(), out);
  EXPECT_TRUE(short_form.wait().success());
}

// Every client's entry names this very file by its absolute path, whatever the program was
// started as (a link, say), and is the same on every run.
TEST(PrintConfig, NamesTheBinaryItselfForEveryClient) {
  const std::string real = std::filesystem::canonical(KORVANE_MCP_BINARY).string();
  std::vector<std::string> started_as = {server_binary()};
  TempDir dir;
  if (command_for({KORVANE_MCP_BINARY}).size() == 1) {  // a link cannot be run through an emulator
    std::filesystem::create_symlink(real, dir.file("korvane-link"));
    started_as.push_back(dir.file("korvane-link"));
  }
  for (const setup::ClientEntry& client : setup::client_entries()) {
    for (const bool add_command : {false, true}) {
      if (add_command && client.add_command.empty()) continue;
      const Outcome<std::string> expected =
          add_command ? setup::render_add_command(client, real) : setup::render_entry(client, real);
      ASSERT_TRUE(expected.ok());
      for (const std::string& program : started_as) {
        std::vector<std::string> argv = {program, "--print-config", std::string(client.name)};
        if (add_command) argv.push_back("--add-command");
        Subprocess run(argv, {});
        EXPECT_EQ(run.read_stdout_to_end(), expected.value()) << program << " " << client.name;
        EXPECT_TRUE(run.wait().success());
        EXPECT_EQ(run.stderr_text(), "");
      }
    }
  }
}

// Standard output whose reader has gone: every option says so on stderr and ends with status 1,
// --check included (its report was lost, so it cannot claim success).
TEST(Arguments, OutputThatCannotBeWrittenIsAFailure) {
  const std::vector<std::vector<std::string>> cases = {{"--version"},
                                                       {"-h"},
                                                       {"--check"},
                                                       {"--print-config"},
                                                       {"--print-config", "codex-cli"},
                                                       {"--print-config", "gemini-cli", "--add-command"}};
  const std::string expected_err = "korvane-mcp: cannot write to standard output: " + os_error_text(EPIPE) + "\n";
  TempDir dir;
  int run = 0;
  for (const std::vector<std::string>& arguments : cases) {
    auto pipe = platform::open_pipe(platform::Blocking::yes);
    ASSERT_TRUE(pipe);
    pipe->read_end.reset();
    std::vector<std::string> argv = {server_binary()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const std::string err_file = dir.file("err-" + std::to_string(++run));
    auto pid =
        testkit::spawn(command_for(argv), kNoApp,
                       {.out = {.fd = pipe->write_end.get()}, .err = {.append_path = err_file}, .search_path = true});
    ASSERT_TRUE(pid) << pid.error();
    pipe->write_end.reset();
    int raw = 0;
    pid_t reaped = -1;
    KORVANE_RETRY_EINTR(reaped, ::waitpid(pid.value(), &raw, 0));
    ASSERT_EQ(reaped, pid.value());
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 1) << arguments[0] << " ended with " << raw;
    EXPECT_EQ(read_file(err_file), expected_err) << arguments[0];
  }
}

}  // namespace
}  // namespace korvane::e2e
