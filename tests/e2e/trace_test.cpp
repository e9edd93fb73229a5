// The opt-in trace file: what it records, which files it may use, and that it never changes
// the server's answers, exit status or descriptors, nor shows any piece of the token.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "base/unique_fd.h"
#include "common/hex.h"
#include "json/shared/value.h"
#include "processes.h"
#include "token_pieces.h"

namespace korvane::e2e {
namespace {

using json::Value;
using testing_support::kSpellings;
using testing_support::spelled;
using testing_support::Spelling;
using testing_support::token_piece_in;

const std::string kInitialize = R"({"jsonrpc":"2.0","id":9,"method":"initialize"})";

std::string error_message(const std::string& line) {
  const Value response = Value::parse(line, nullptr, false);
  return response.is_object() && response.contains("error") ? response["error"]["message"].get<std::string>() : "";
}

std::vector<Value> trace_records(const std::string& path) {
  std::vector<Value> records;
  for (const std::string& line : split_lines(read_file(path))) {
    records.push_back(Value::parse(line, nullptr, false));
    EXPECT_TRUE(records.back().is_object() && records.back().contains("event")) << line;
  }
  return records;
}

mode_t mode_of(const std::string& path) {
  struct stat facts {};
  return ::stat(path.c_str(), &facts) == 0 ? facts.st_mode & 07777 : 0;
}

std::string parent_of(const std::string& path) { return std::filesystem::path(path).parent_path().string(); }

bool make_folder(const std::string& path, mode_t mode) {
  return ::mkdir(path.c_str(), 0700) == 0 && ::chmod(path.c_str(), mode) == 0;
}

TEST(Trace, RecordsEveryExchangeAndNeverTheToken) {
  // Two like apps, one for a traced and one for an untraced run.
  StandinApp app({.token = "0123456789abcdef-trace-token"});
  StandinApp twin({.token = app.token()});
  ASSERT_TRUE(app.ready() && twin.ready());
  TempDir dir;
  const std::string trace = dir.file("trace.jsonl");
  Environment environment = app.server_environment("s1");
  environment.push_back("KORVANE_MCP_TRACE=" + trace);
  // The token goes out in a line, comes back in a reply, and stands in an error text.
  const std::string input = tool_call_line(1, "session_send", R"({"id":"s2","text":")" + app.token() + "\"}") + "\n" +
                            tool_call_line(2, "session_read", R"({"id":"s2"})") + "\n" +
                            tool_call_line(3, "Click", "{}") + "\n";
  const ServerRun traced = run_server(input, environment);
  const ServerRun plain = run_server(input, twin.server_environment("s1"));
  EXPECT_EQ(traced.out, plain.out);
  EXPECT_NE(traced.out.find(app.token()), std::string::npos) << "the reply should carry the token";
  EXPECT_EQ(traced.err, "");

  const std::string content = read_file(trace);
  EXPECT_EQ(content.find(app.token()), std::string::npos) << content;
  EXPECT_EQ(mode_of(trace), 0600u);
  const std::vector<Value> records = trace_records(trace);
  std::vector<Value> exchanges;
  for (const Value& r : records) {
    if (r["event"] == "app") exchanges.push_back(r);
  }
  ASSERT_EQ(exchanges.size(), 3u) << content;
  const Value& first = exchanges[0];
  EXPECT_EQ(first["tool"], "session_send");
  EXPECT_EQ(first["method"], "session_send");
  EXPECT_EQ(first["socket_info"], app.socket_info_path());
  EXPECT_EQ(first["port"], app.port());
  EXPECT_EQ(first["status"], "HTTP/1.1 200 OK");
  EXPECT_EQ(first["request_bytes"], app.recorded_requests()[0].head.size() + app.recorded_requests()[0].body.size());
  EXPECT_GT(first["reply_bytes"].get<std::size_t>(), 0u);
  EXPECT_TRUE(first["duration_us"].is_number_unsigned());
  EXPECT_TRUE(first["error"].is_null());
  EXPECT_EQ(exchanges[2]["error"], "unknown tool: Click");
  EXPECT_TRUE(exchanges[2]["method"].is_null());
}

// Whatever the trace path holds already, stdout, stderr and the exit status stay as they are;
// the server appends only to a file of the user's own that nobody else may open, never changes
// its permissions, and --check says why it does not trace.
TEST(Trace, UsesOnlyAFileNobodyElseMayRead) {
  StandinApp app;
  ASSERT_TRUE(app.ready());
  TempDir dir;
  const std::string input = kInitialize + "\n" + tool_call_line(1, "click", "{}") + "\n";
  const ServerRun plain = run_server(input, app.server_environment("s1"));
  ASSERT_EQ(error_message(split_lines(plain.out).at(1)), "");
  struct Case {
    std::string label;
    std::function<bool(const std::string&)> prepare;  // false: skip on this machine
    bool traced;
    std::string check_says;  // why not, in --check's report
  };
  const std::string target = dir.file("target");
  const Case cases[] = {
      {"own_0600",
       [](const std::string& p) {
         write_file(p, "");
         return ::chmod(p.c_str(), 0600) == 0;
       },
       true, "the server appends its records to it"},
      // A record torn by a full disk is not glued to the next one.
      {"own_0600_torn",
       [](const std::string& p) {
         write_file(p, "{\"torn\":");
         return ::chmod(p.c_str(), 0600) == 0;
       },
       true, "appends"},
      {"own_0644",
       [](const std::string& p) {
         write_file(p, "");
         return ::chmod(p.c_str(), 0644) == 0;
       },
       false, "group or others have permissions on it"},
      {"own_0620",
       [](const std::string& p) {
         write_file(p, "");
         return ::chmod(p.c_str(), 0620) == 0;
       },
       false, "group or others have permissions on it"},
      {"other_owner",
       [](const std::string& p) {
         write_file(p, "theirs\n");
         return give_away(p) && ::chmod(p.c_str(), 0600) == 0;
       },
       false, "belongs to another user"},
      {"two_links",
       [&](const std::string& p) {
         write_file(p, "");
         return ::link(p.c_str(), (p + ".link").c_str()) == 0;
       },
       false, "it has 2 links"},
      {"symlink",
       [&](const std::string& p) {
         write_file(target, "mine\n");
         return ::symlink(target.c_str(), p.c_str()) == 0;
       },
       false, "symbolic link"},
      // Root may open a file that nobody may write: the mode decides, not whether open succeeds.
      {"own_0400",
       [](const std::string& p) {
         write_file(p, "");
         return ::chmod(p.c_str(), 0400) == 0;
       },
       false, "its owner may not write it"},
      // The folders on the way: the user's or root's, and writable by nobody else unless sticky.
      {"folder_0777", [](const std::string& p) { return make_folder(parent_of(p), 0777); }, false,
       "is writable by group or others and not sticky"},
      {"folder_0770", [](const std::string& p) { return make_folder(parent_of(p), 0770); }, false,
       "is writable by group or others and not sticky"},
      {"folder_1777", [](const std::string& p) { return make_folder(parent_of(p), 01777); }, true, "appends"},
      {"folder_of_another_user",
       [](const std::string& p) { return make_folder(parent_of(p), 0755) && give_away(parent_of(p)); }, false,
       "belongs to another user (uid 65534)"},
      // A folder reached through a link (a home folder, macOS's /tmp) is judged by its real path.
      {"folder_link_to_own",
       [&](const std::string& p) {
         return make_folder(dir.file("own"), 0700) && ::symlink(dir.file("own").c_str(), parent_of(p).c_str()) == 0;
       },
       true, "appends"},
      {"folder_link_to_open",
       [&](const std::string& p) {
         return make_folder(dir.file("open"), 0777) && ::symlink(dir.file("open").c_str(), parent_of(p).c_str()) == 0;
       },
       false, "is writable by group or others and not sticky"},
      {"socket_info", [](const std::string&) { return true; }, false, "it is the socket-info file"},
      {"missing_directory", [](const std::string&) { return true; }, false, "No such file or directory"},
  };
  for (const Case& c : cases) {
    const std::string path = c.label == "socket_info"         ? app.socket_info_path()
                             : c.label == "missing_directory" ? dir.file("none/trace")
                             : c.label.starts_with("folder_") ? dir.file(c.label + "/trace")
                                                              : dir.file(c.label);
    if (!c.prepare(path)) continue;
    const std::string before = std::filesystem::exists(path) ? read_file(path) : "";
    const mode_t mode_before = mode_of(path);
    // A reader who opened the file before the server must read nothing of the trace.
    const UniqueFd early_reader(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    Environment environment = app.server_environment("s1");
    environment.push_back("KORVANE_MCP_TRACE=" + path);
    const ServerRun run = run_server(input, environment);
    EXPECT_EQ(run.out, plain.out) << c.label;
    EXPECT_EQ(run.err, "") << c.label;
    EXPECT_TRUE(run.status.success()) << c.label;
    EXPECT_EQ(mode_of(path), mode_before == 0 && c.traced ? 0600u : mode_before) << c.label;  // made afresh
    if (c.traced) {
      const std::string content = read_file(path);
      ASSERT_TRUE(content.starts_with(before)) << c.label;
      EXPECT_EQ(split_lines(content).size() - (before.empty() ? 0 : 1), 7u) << c.label;
      EXPECT_TRUE(content.substr(before.size()).starts_with(before.empty() ? "{\"time\"" : "\n{\"time\"")) << c.label;
    } else {
      EXPECT_EQ(c.label == "symlink"            ? read_file(target)
                : std::filesystem::exists(path) ? read_file(path)
                                                : "",
                c.label == "symlink" ? "mine\n" : before)
          << c.label;
      if (early_reader.valid()) {
        char byte = 0;
        EXPECT_EQ(::read(early_reader.get(), &byte, 1), static_cast<ssize_t>(before.size() > 0)) << c.label;
      }
    }
    const CheckRun check = run_check(environment);
    EXPECT_NE(check.out.find("Trace file"), std::string::npos) << c.label;
    EXPECT_NE(check.flat().find(c.check_says), std::string::npos) << c.label << "\n" << check.out;
    EXPECT_EQ(check.status.code, 0) << c.label << "\n" << check.out;
  }
}

// Tokens of several lengths and kinds (slash, dash, upper case), each written in every spelling
// JSON allows (and some mixed), at the start of a text, in its middle and at offsets all around
// the cut of the trace records: in received lines (a plain line, a tool call's path or text
// argument, and the raw= text of a line that does not parse), in relayed replies and in the
// raw= texts of replies that do not parse; and all around the cut of --check's excerpt of the
// reply and in its error text: no 8 bytes of it in a row are recorded or shown, in any writing.
// The traced run's output is the untraced run's, byte for byte.
TEST(Trace, NoPieceOfTheTokenIsRecordedOrShownWhereTextIsCut) {
  const std::string hex = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
  for (const std::string& token :
       {hex.substr(5, 16), hex.substr(3, 32), hex, std::string("Ab/Cd-EF/gh-IJ/kl-MN0123/Zz-Q")}) {
    for (const Spelling spelling : kSpellings) {
      const std::string form = spelled(token, spelling);
      TempDir dir;
      std::string replies, input;
      int id = 0, lines = 0, calls = 0;
      const std::size_t step = spelling == Spelling::kAsWriters ? 3 : 23;
      for (std::size_t offset = 65536 - 140 - form.size(); offset <= 65536 + 16; offset += step) {
        std::string content = form + " " + form + std::string(offset / 2, 'x') + form;
        content += std::string(offset - content.size() - 6, 'x') + form;
        const std::string body = "{\"a\":\"" + content + "\"}";
        replies +=
            encode_hex("{}") + "\n" + encode_hex(body) + "\n" + encode_hex(body.substr(0, body.size() - 1)) + "\n";
        const std::string line =
            R"({"jsonrpc":"2.0","id":)" + std::to_string(++id) + R"(,"method":"x","params":)" + body + "}";
        input += line + "\n" + line.substr(0, line.size() - 2) + "\n";
        input += offset % 2 == 0 ? tool_call_line(++id, "open_markdown", R"({"path":"/notes/)" + content + ".md\"}")
                                 : tool_call_line(++id, "type_text", R"({"text":")" + content + "\"}");
        input += "\n";
        for (int call = 0; call < 2; ++call) input += tool_call_line(++id, "sessions_list", "{}") + "\n";
        lines += 5;
        calls += 3;
      }
      write_file(dir.file("replies"), replies);
      StandinApp app({.token = token, .replies_file = dir.file("replies"), .record = false});
      StandinApp twin({.token = token, .replies_file = dir.file("replies"), .record = false});
      ASSERT_TRUE(app.ready() && twin.ready());
      Environment environment = app.server_environment("s1");
      environment.push_back("KORVANE_MCP_TRACE=" + dir.file("trace"));
      const ServerRun traced = run_server(input, environment);
      const ServerRun plain = run_server(input, twin.server_environment("s1"));
      const std::string where =
          "token of " + std::to_string(token.size()) + ", spelling " + std::to_string(static_cast<int>(spelling));
      EXPECT_TRUE(traced.out == plain.out) << where;
      EXPECT_EQ(traced.status.code, plain.status.code);
      EXPECT_NE(token_piece_in(traced.out, token), "") << where << ": the answers should carry the token";
      const std::string trace = read_file(dir.file("trace"));
      // start, received and sent for each line, app for each call, input_ended
      EXPECT_EQ(split_lines(trace).size(), static_cast<std::size_t>(2 + 2 * lines + calls)) << where;
      EXPECT_EQ(token_piece_in(trace, token), "") << where;

      // --check shows the first 200 bytes of the reply's body, and what a tool call would answer
      // when the body does not parse: the token at its start and across the cut.
      std::vector<std::string> check_bodies;
      for (const std::size_t before_cut :
           {form.size() + 1, form.size(), form.size() - 1, form.size() / 2, std::size_t{1}}) {
        const std::size_t start = std::max<std::size_t>(200 - std::min<std::size_t>(before_cut, 200), 6);
        const std::string body = "{\"a\":\"" + std::string(start - 6, 'x') + form + " " + form + "\"}";
        check_bodies.push_back(body);
        check_bodies.push_back(body.substr(0, body.size() - 1));
      }
      std::string check_replies;
      for (const std::string& body : check_bodies) check_replies += encode_hex(body) + "\n";
      write_file(dir.file("check-replies"), check_replies);
      StandinApp checked({.token = token, .replies_file = dir.file("check-replies"), .record = false});
      ASSERT_TRUE(checked.ready());
      for (std::size_t run = 0; run < check_bodies.size(); ++run) {
        const CheckRun check = run_check(checked.server_environment("s1"));
        ASSERT_NE(check.flat().find("first 200"), std::string::npos) << check.out;
        ASSERT_EQ(token_piece_in(check.out, token), "") << where << ", body " << run << "\n" << check.out;
      }
    }
  }
}

// Tracing needs no descriptor a tool call needs, and a trace file at its size limit stops
// the trace, not the server.
TEST(Trace, ChangesNothingUnderLowLimits) {
  // Under an emulator, a wrapper or a sanitizer runtime the limits would be theirs as well.
  if (!server_memory_is_its_own()) GTEST_SKIP() << "the server does not run as itself here";
  StandinApp app;
  ASSERT_TRUE(app.ready());
  TempDir dir;
  std::string input = kInitialize + "\n";
  for (int id = 1; id <= 20; ++id) input += tool_call_line(id, "click", "{}") + "\n";
  const auto run = [&](const std::string& limit, Environment environment) {
    Subprocess server({"/bin/sh", "-c", limit + " && exec \"$0\"", server_binary()}, std::move(environment));
    server.write_stdin(input);
    server.close_stdin();
    std::string out = server.read_stdout_to_end();
    const ExitStatus status = server.wait();
    return ServerRun{std::move(out), server.stderr_text(), status};
  };
  // The fewest descriptors an untraced server relays the calls with (whoever runs the tests may
  // leave some open to it).
  std::string fewest;
  for (int count = 4; count <= 64 && fewest.empty(); ++count) {
    const ServerRun plain = run("ulimit -n " + std::to_string(count), app.server_environment("s1"));
    if (plain.status.success() && plain.out.find("not running") == std::string::npos) {
      fewest = "ulimit -n " + std::to_string(count);
    }
  }
  ASSERT_FALSE(fewest.empty());
  for (const std::string& limit : {fewest, std::string("ulimit -f 2")}) {
    const ServerRun plain = run(limit, app.server_environment("s1"));
    Environment environment = app.server_environment("s1");
    const std::string trace = dir.file("trace" + limit.substr(7, 2));  // trace-n, trace-f
    environment.push_back("KORVANE_MCP_TRACE=" + trace);
    const ServerRun traced = run(limit, environment);
    EXPECT_TRUE(traced.out == plain.out) << limit << "\n" << traced.out.substr(0, 2000);
    EXPECT_EQ(traced.out.find("not running"), std::string::npos) << limit;
    EXPECT_EQ(split_lines(traced.out).size(), 21u) << limit;
    EXPECT_EQ(traced.err, plain.err) << limit;
    EXPECT_TRUE(traced.status.success() && plain.status.success()) << limit << " " << describe(traced.status);
    const std::string records = read_file(trace);
    if (limit == fewest) {  // traced throughout: every call's record is there
      std::size_t calls = 0;
      for (std::size_t at = records.find("\"event\":\"app\""); at != std::string::npos;
           at = records.find("\"event\":\"app\"", at + 1)) {
        ++calls;
      }
      EXPECT_EQ(calls, 20u) << limit;
    } else {
      EXPECT_LE(records.size(), 1024u) << limit;
    }
  }
}

// A full disk tears the last record written; the next run's records start on a line of their
// own, and every answer goes out all the same.
TEST(Trace, AFullDiskStopsTheTraceAndTheNextRunStartsOnANewLine) {
  TempDir dir;
  const std::string mount_point = dir.file("small");
  std::filesystem::create_directory(mount_point);
  if (std::system(("mount -t tmpfs -o size=16k tmpfs '" + mount_point + "' 2>/dev/null").c_str()) != 0) {
    GTEST_SKIP() << "cannot mount a small tmpfs here";
  }
  struct Unmount {
    std::string path;
    ~Unmount() { (void)std::system(("umount '" + path + "'").c_str()); }
  } unmount{mount_point};
  const std::string trace = mount_point + "/trace";
  const std::string filler = mount_point + "/filler";
  write_file(filler, std::string(4096, 'f'));
  std::string input;
  for (int id = 1; id <= 400; ++id)
    input += R"({"jsonrpc":"2.0","id":)" + std::to_string(id) + R"(,"method":"initialize"})" + "\n";
  const Environment plain_environment = {"KORVANE_SOCKET_INFO=" + dir.file("missing.json")};
  Environment environment = plain_environment;
  environment.push_back("KORVANE_MCP_TRACE=" + trace);
  const ServerRun plain = run_server(input, plain_environment);
  const ServerRun full = run_server(input, environment);
  EXPECT_TRUE(full.out == plain.out);
  EXPECT_TRUE(full.status.success());
  EXPECT_EQ(full.err, "");
  ASSERT_TRUE(std::filesystem::remove(filler));
  const ServerRun next = run_server(kInitialize + "\n", environment);
  EXPECT_TRUE(next.status.success());
  std::size_t starts = 0, torn = 0;
  for (const std::string& line : split_lines(read_file(trace))) {
    const Value record = Value::parse(line, nullptr, false);
    torn += record.is_object() ? 0 : 1;
    starts += record.is_object() && record["event"] == "start" ? 1 : 0;
  }
  EXPECT_LE(torn, 1u);
  EXPECT_EQ(starts, 2u);  // the next run's first record is whole, not glued to the torn one
  EXPECT_EQ(Value::parse(split_lines(read_file(trace)).back(), nullptr, false)["event"], "input_ended");
}

}  // namespace
}  // namespace korvane::e2e
