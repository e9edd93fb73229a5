// The conformance corpora, fed through the real binary.
#include <sys/stat.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/version.h"
#include "json/shared/value.h"
#include "processes.h"

namespace korvane::e2e {
namespace {

using json::Value;

constexpr std::string_view kNotRunning = "korvane GUI is not running (no socket-info.json found)";

// The message of an error response, or the tool result's text.
std::string outcome_of(const std::string& response_line) {
  const Value response = Value::parse(response_line);
  if (response.contains("error")) return "error: " + response["error"]["message"].get<std::string>();
  return "text: " + response["result"]["content"][0]["text"].get<std::string>();
}

// The vectors write the version out; a new project version must come with vectors to match.
TEST(Conformance, VectorsExpectTheProjectVersion) {
  std::size_t answers = 0;
  for (const Value& c : load_jsonl("request-lines.jsonl")) {
    const std::string output = c["output"].get<std::string>();
    if (output.find("\"serverInfo\"") == std::string::npos) continue;
    ++answers;
    EXPECT_EQ(Value::parse(output)["result"]["serverInfo"]["version"].get<std::string>(), kServerVersion)
        << "update tests/data/request-lines.jsonl for the new version";
  }
  EXPECT_EQ(answers, 34u);
}

// Tracing, to a file or to a path that cannot be written, changes nothing on stdout or stderr.
struct TraceSetting {
  std::string label;
  std::string trace;  // KORVANE_MCP_TRACE relative to a fresh directory; "" for none
};

class RequestLines : public testing::TestWithParam<TraceSetting> {};

// The traced run's records: one JSON object per line, each line received and each response
// written recorded with its full length and text.
void expect_trace_of(const std::string& path, const std::string& input, const std::string& output) {
  struct stat facts {};
  ASSERT_EQ(::stat(path.c_str(), &facts), 0);
  EXPECT_EQ(facts.st_mode & 07777, 0600u);
  std::vector<std::string> received, sent;
  for (const std::string& line : split_lines(read_file(path))) {
    const Value record = Value::parse(line, nullptr, false);
    ASSERT_TRUE(record.is_object()) << line;
    if (record["event"] == "received") received.push_back(record["text"].get<std::string>());
    if (record["event"] == "sent") sent.push_back(record["text"].get<std::string>());
  }
  std::vector<std::string> lines = split_lines(input);
  for (std::string& line : lines) {
    if (line.ends_with('\r')) line.pop_back();
  }
  EXPECT_TRUE(received == lines) << received.size() << " records for " << lines.size() << " lines";
  EXPECT_TRUE(sent == split_lines(output)) << sent.size() << " records";
}

TEST_P(RequestLines, EveryLineInOneRunGivesExactlyTheExpectedOutput) {
  TempDir dir;
  std::string input, expected;
  const std::vector<Value> cases = load_jsonl("request-lines.jsonl");
  for (const Value& c : cases) {
    input += c["input"].get<std::string>() + "\n";
    if (!c["output"].get<std::string>().empty()) expected += c["output"].get<std::string>() + "\n";
  }
  Environment environment = {"KORVANE_SOCKET_INFO=" + dir.file("missing.json")};
  if (!GetParam().trace.empty()) environment.push_back("KORVANE_MCP_TRACE=" + dir.file(GetParam().trace));
  const ServerRun run = run_server(input, environment);
  EXPECT_TRUE(run.status.success()) << describe(run.status);
  EXPECT_TRUE(run.err.empty()) << run.err;
  ASSERT_EQ(cases.size(), 3626u);
  // Compare line by line first for a readable failure, then the whole output byte for byte.
  const std::vector<std::string> got = split_lines(run.out), want = split_lines(expected);
  for (std::size_t i = 0; i < std::min(got.size(), want.size()); ++i) {
    if (got[i] != want[i]) {
      ADD_FAILURE() << "first difference at output line " << i << "\n got: " << got[i] << "\nwant: " << want[i];
      break;
    }
  }
  EXPECT_EQ(run.out, expected);
  if (GetParam().label == "traced") expect_trace_of(dir.file(GetParam().trace), input, expected);
}

INSTANTIATE_TEST_SUITE_P(Conformance, RequestLines,
                         testing::Values(TraceSetting{"untraced", ""}, TraceSetting{"traced", "trace.jsonl"},
                                         TraceSetting{"unwritable_trace", "no/such/dir/trace.jsonl"},
                                         TraceSetting{"trace_is_a_directory", "."}),
                         [](const testing::TestParamInfo<TraceSetting>& param_info) { return param_info.param.label; });

TEST(Conformance, EveryReplyBodyServedByTheAppIsRelayedExactly) {
  TempDir dir;
  const std::vector<Value> cases = load_jsonl("reply-bodies.jsonl");
  std::string replies, input;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    replies += cases[i]["body_hex"].get<std::string>() + "\n";
    input += tool_call_line(static_cast<int>(i) + 1, "screenshot", "{}") + "\n";
  }
  write_file(dir.file("replies.hex"), replies);
  StandinApp app({.replies_file = dir.file("replies.hex"), .record = false});
  ASSERT_TRUE(app.ready());
  const ServerRun run = run_server(input, app.server_environment(), Duration{120'000});
  ASSERT_TRUE(run.status.success()) << describe(run.status);
  const std::vector<std::string> lines = split_lines(run.out);
  ASSERT_EQ(lines.size(), cases.size());
  std::size_t failures = 0;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Value& c = cases[i];
    const std::string want =
        c.contains("text") ? "text: " + c["text"].get<std::string>() : "error: " + c["error"].get<std::string>();
    if (outcome_of(lines[i]) != want && ++failures <= 5) {
      ADD_FAILURE() << "body " << c["body_hex"].get<std::string>() << "\n got: " << lines[i] << "\nwant: " << want;
    }
  }
  EXPECT_EQ(failures, 0u);
}

TEST(Conformance, EverySocketInfoFileDecodesOrReadsAsNotRunning) {
  // Valid files name ports where nothing listens, so a decoded file shows as a connect error;
  // but port 0, which decodes, names no listener and is not tried.
  TempDir dir;
  const std::string path = dir.file("socket-info.json");
  Subprocess server({server_binary()}, {"KORVANE_SOCKET_INFO=" + path});
  const std::vector<Value> cases = load_jsonl("socket-info.jsonl");
  ASSERT_EQ(cases.size(), 600u);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Value& c = cases[i];
    write_file(path, from_hex(c["file_hex"].get<std::string>()));
    ASSERT_TRUE(server.write_stdin(tool_call_line(static_cast<int>(i) + 1, "click", "{}") + "\n"));
    const std::optional<std::string> line = server.read_line();
    ASSERT_TRUE(line.has_value());
    const std::string message = Value::parse(*line)["error"]["message"].get<std::string>();
    if (c.value("valid", true) && c["port"] != 0) {
      EXPECT_EQ(message.rfind("connect: ", 0), 0u) << c["file_hex"] << " gave " << message;
    } else {
      EXPECT_EQ(message, kNotRunning) << c["file_hex"];
    }
  }
  server.close_stdin();
  EXPECT_TRUE(server.wait().success());
}

}  // namespace
}  // namespace korvane::e2e
