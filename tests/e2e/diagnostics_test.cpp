// Who may point the server at an app (the socket-info file checks), and --check, the first aid
// for when it does not work (the trace file has tests of its own).
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "common/version.h"
#include "json/shared/value.h"
#include "platform/process_usage.h"
#include "processes.h"

namespace korvane::e2e {
namespace {

using json::Value;

constexpr std::string_view kNotRunning = "korvane GUI is not running (no socket-info.json found)";
const std::string kInitialize = R"({"jsonrpc":"2.0","id":9,"method":"initialize"})";

std::string error_message(const std::string& line) {
  const Value response = Value::parse(line, nullptr, false);
  return response.is_object() && response.contains("error") ? response["error"]["message"].get<std::string>() : "";
}

// ---------------------------------------------------------------------------------------------
// The socket-info file: only a regular file of the user's (or root's), not writable by others,
// of at most 64 KiB is believed; anything else is "not running" at once, and its app gets nothing.

struct FileCase {
  std::string label;
  // Makes the file (the app's own socket info in it, where it holds any) and gives its path;
  // "" to skip the case on this machine.
  std::function<std::string(const TempDir&, const StandinApp&)> make;
  bool believed;
};

void PrintTo(const FileCase& c, std::ostream* os) { *os << c.label; }

std::string copy_of_app(const TempDir& dir, const StandinApp& app, mode_t mode, std::size_t pad_to = 0) {
  std::string content = read_file(app.socket_info_path());
  if (content.size() < pad_to) content.append(pad_to - content.size(), ' ');
  const std::string path = dir.file("copy.json");
  write_file(path, content);
  ::chmod(path.c_str(), mode);
  return path;
}

const FileCase kFileCases[] = {
    {"fifo",
     [](const TempDir& dir, const StandinApp&) {
       const std::string path = dir.file("fifo");
       return ::mkfifo(path.c_str(), 0600) == 0 ? path : "";
     },
     false},
    {"dev_zero", [](const TempDir&, const StandinApp&) { return std::string("/dev/zero"); }, false},
    {"directory",
     [](const TempDir& dir, const StandinApp&) {
       std::filesystem::create_directory(dir.file("dir"));
       return dir.file("dir");
     },
     false},
    {"other_owner",
     [](const TempDir& dir, const StandinApp& app) {
       const std::string path = copy_of_app(dir, app, 0644);
       return give_away(path) ? path : "";
     },
     false},
    {"world_writable", [](const TempDir& dir, const StandinApp& app) { return copy_of_app(dir, app, 0666); }, false},
    {"over_64_kib", [](const TempDir& dir, const StandinApp& app) { return copy_of_app(dir, app, 0600, 65537); },
     false},
    {"own_0600", [](const TempDir& dir, const StandinApp& app) { return copy_of_app(dir, app, 0600); }, true},
    {"own_0644", [](const TempDir& dir, const StandinApp& app) { return copy_of_app(dir, app, 0644); }, true},
    {"group_writable", [](const TempDir& dir, const StandinApp& app) { return copy_of_app(dir, app, 0660); }, true},
    {"exactly_64_kib", [](const TempDir& dir, const StandinApp& app) { return copy_of_app(dir, app, 0600, 65536); },
     true},
};

class SocketInfoFile : public testing::TestWithParam<FileCase> {};

TEST_P(SocketInfoFile, IsBelievedOnlyWhenSafeAndNeverHoldsTheServerUp) {
  StandinApp app;
  ASSERT_TRUE(app.ready());
  TempDir dir;
  const std::string path = GetParam().make(dir, app);
  if (path.empty()) GTEST_SKIP() << "cannot make this file here (not root?)";
  Subprocess server({server_binary()}, {"KORVANE_SOCKET_INFO=" + path});
  ASSERT_TRUE(server.write_stdin(tool_call_line(1, "screenshot", "{}") + "\n" + kInitialize + "\n"));
  // A server stuck on the file would miss this generous bound; an answer comes at once.
  const std::optional<std::string> answer = server.read_line(Duration{5'000});
  // An emulator or a sanitizer runtime would be measured instead of the server.
  const auto peak = server_memory_is_its_own() ? platform::running_peak_rss_kib(server.pid()) : std::nullopt;
  if (peak) {
    EXPECT_LT(*peak, 64 * 1024) << "KiB";
  }
  ASSERT_TRUE(answer.has_value());
  EXPECT_EQ(error_message(*answer), GetParam().believed ? "" : kNotRunning) << *answer;
  const std::optional<std::string> next = server.read_line(Duration{5'000});
  ASSERT_TRUE(next.has_value());
  EXPECT_NE(next->find("\"id\":9,\"result\""), std::string::npos) << *next;
  server.close_stdin();
  EXPECT_TRUE(server.wait().success());
  EXPECT_EQ(server.stderr_text(), "");
  EXPECT_EQ(app.recorded_requests().size(), GetParam().believed ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Kinds, SocketInfoFile, testing::ValuesIn(kFileCases),
                         [](const testing::TestParamInfo<FileCase>& param_info) { return param_info.param.label; });

// ---------------------------------------------------------------------------------------------
// --check

struct CheckCase {
  std::string label;
  std::string mode;                 // of the stand-in app; "" for none, and then no file at the path
  std::optional<std::string> path;  // KORVANE_SOCKET_INFO when there is no app; else a missing file
  std::optional<std::string> session;
  bool wrong_token;  // the file names the app's port with another token
  int exit_code;
  std::vector<std::string> shown;     // texts the report holds; "PORT" stands for the app's port
  std::optional<std::string> file{};  // with no app: what the socket-info file holds
};

void PrintTo(const CheckCase& c, std::ostream* os) { *os << c.label; }

class Check : public testing::TestWithParam<CheckCase> {};

TEST_P(Check, ReportsWhatItFoundExitsAsItShouldAndNeverShowsTheToken) {
  const CheckCase& c = GetParam();
  TempDir dir;
  std::optional<StandinApp> app;
  std::string path = c.path.value_or(dir.file("missing/socket-info.json"));
  if (c.file) {
    path = dir.file("socket-info.json");
    write_file(path, *c.file);
    ::chmod(path.c_str(), 0600);
  }
  if (!c.mode.empty()) {
    app.emplace(StandinOptions{.mode = c.mode});
    ASSERT_TRUE(app->ready());
    path = app->socket_info_path();
    if (c.wrong_token) {
      path = dir.file("stale.json");
      write_file(path, R"({"port":)" + std::to_string(app->port()) + R"(,"token":"stale-token-0123456789"})");
    }
  }
  // A file where HOME points, which the server does not use, is pointed out.
  std::filesystem::create_directories(dir.file("home/.config/korvane"));
  write_file(dir.file("home/.config/korvane/socket-info.json"), "{}");
  Environment environment = {"KORVANE_SOCKET_INFO=" + path, "HOME=" + dir.file("home")};
  if (c.session) environment.push_back("KORVANE_SESSION_ID=" + *c.session);

  const CheckRun run = run_check(environment);
  EXPECT_TRUE(run.status.exited) << describe(run.status);
  EXPECT_EQ(run.status.code, c.exit_code) << run.out;
  EXPECT_NE(run.out.find("korvane-mcp " + std::string(kServerVersion) + " --check"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find((path.empty() ? "\"\"" : path) + "  ("), std::string::npos) << run.out;
  std::size_t used = 0;
  for (std::size_t at = run.out.find("<- used"); at != std::string::npos; at = run.out.find("<- used", at + 1)) ++used;
  EXPECT_EQ(used, 1u) << run.out;
  EXPECT_NE(run.out.find(dir.file("home/.config/korvane/socket-info.json") + " exists but is not used"),
            std::string::npos)
      << run.out;
  for (std::string text : c.shown) {
    if (app && text.find("PORT") != std::string::npos) text.replace(text.find("PORT"), 4, std::to_string(app->port()));
    EXPECT_NE(run.out.find(text), std::string::npos) << "missing \"" << text << "\" in\n" << run.out;
  }
  if (c.exit_code != 0) {
    EXPECT_NE(run.out.find("Next: "), std::string::npos) << run.out;
  }
  if (app) {
    EXPECT_EQ(run.out.find(app->token()), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("stale-token"), std::string::npos) << run.out;
  }
  // The one request is sessions_list, sent exactly as a tool call sends it.
  if (app && c.mode == "normal" && !c.wrong_token) {
    const std::vector<RecordedRequest> requests = app->recorded_requests();
    ASSERT_EQ(requests.size(), 1u);
    const bool blank = !c.session || c.session->find_first_not_of(" \t") == std::string::npos;
    const std::string session = blank ? "null" : "\"" + *c.session + "\"";
    EXPECT_EQ(requests[0].body, R"({"method":"sessions_list","params":{"session_id":)" + session + "}}");
    EXPECT_NE(requests[0].head.find("X-Korvane-Token: " + app->token() + "\r\n"), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Check,
    testing::Values(
        CheckCase{
            "no_file", "", std::nullopt, "s1", false, 1, {"open: No such file or directory", "not tried", "\"s1\""}},
        CheckCase{"empty_path", "", "", "s1", false, 1, {"open: No such file or directory", "the path is relative"}},
        CheckCase{"app_answers",
                  "normal",
                  std::nullopt,
                  "s1",
                  false,
                  0,
                  {"port PORT, token present (32 bytes)", "127.0.0.1:PORT accepts a connection", "\"HTTP/1.1 200 OK\"",
                   "isSelf", "the app answered"}},
        CheckCase{"no_session",
                  "normal",
                  std::nullopt,
                  std::nullopt,
                  false,
                  0,
                  {"KORVANE_SESSION_ID is not set", "null", "${KORVANE_SESSION_ID:-}", "docs/clients.md"}},
        CheckCase{"blank_session", "normal", std::nullopt, " \t", false, 0, {"KORVANE_SESSION_ID is set but blank"}},
        CheckCase{"stale_token", "normal", std::nullopt, "s1", true, 1, {"refused the token", "401", "invalid token"}},
        CheckCase{"nothing_listens", "refuse", std::nullopt, "s1", false, 1, {"127.0.0.1:PORT: connect: "}},
        CheckCase{"app_never_answers", "hang", std::nullopt, "s1", false, 1, {"read: no answer within 5000 ms"}},
        CheckCase{"token_with_escape",
                  "",
                  std::nullopt,
                  "s1",
                  false,
                  1,
                  {"the file holds a control character (0x1b) in its token", "not tried"},
                  R"({"port":1,"token":"abc\u001b[0m"})"},
        CheckCase{"token_with_line_break",
                  "",
                  std::nullopt,
                  "s1",
                  false,
                  1,
                  {"the file holds a control character (0x0a) in its token"},
                  R"({"port":1,"token":"abc\nX-Other: 1"})"},
        CheckCase{
            "port_zero", "", std::nullopt, "s1", false, 1, {"port 0 names no listener", "not tried"}, "[0,\"t\"]"}),
    [](const testing::TestParamInfo<CheckCase>& param_info) { return param_info.param.label; });

// A reply longer than --check reads is no parse failure: it says how far it checked.
TEST(CheckLongReply, IsSaidNotCheckedPastTheLimitNotFailed) {
  TempDir dir;
  std::string body = R"({"sessions":[)";
  while (body.size() < 2 * 1024 * 1024) body += R"({"id":"s1","label":"a long list"},)";
  body += R"({"id":"s2"}]})";
  write_file(dir.file("body.json"), body);
  StandinApp app({.mode = "body-file", .body_file = dir.file("body.json")});
  ASSERT_TRUE(app.ready());
  const CheckRun run = run_check(app.server_environment("s1"));
  EXPECT_EQ(run.status.code, 0) << run.out;
  EXPECT_NE(run.flat().find("not checked past 1048576 bytes"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("FAIL"), std::string::npos) << run.out;
}

}  // namespace
}  // namespace korvane::e2e
