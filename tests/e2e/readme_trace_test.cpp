// The README's trace example is a real trace: the records it shows are those the server writes
// during the demo session (scripts/demo.sh), but for what changes from run to run.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "json/shared/value.h"
#include "processes.h"

namespace korvane::e2e {
namespace {

const std::filesystem::path kSourceDir = KORVANE_SOURCE_DIR;

// The lines of the README's example: the text block after the sentence that introduces it.
std::vector<std::string> readme_example() {
  std::ifstream readme(kSourceDir / "README.md");
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(readme, line) && !line.starts_with("Records carry `time` (UTC), `pid` and `event`")) {
  }
  while (std::getline(readme, line) && line != "```text") {
  }
  while (std::getline(readme, line) && line != "```") lines.push_back(line);
  return lines;
}

// What differs between runs (clock, process, port, temporary folder, timing, the head's length,
// which names the port) is set to one value.
std::string steady(std::string record) {
  static const std::pair<std::regex, const char*> kVolatile[] = {
      {std::regex(R"("time":"[^"]*")"), R"("time":"")"},
      {std::regex(R"("pid":\d+)"), R"("pid":0)"},
      {std::regex(R"("version":"[^"]*")"), R"("version":"")"},
      {std::regex(R"("socket_info":"[^"]*")"), R"("socket_info":"")"},
      {std::regex(R"("port":\d+)"), R"("port":0)"},
      {std::regex(R"("request_bytes":\d+)"), R"("request_bytes":0)"},
      {std::regex(R"("duration_us":\d+)"), R"("duration_us":0)"},
  };
  for (const auto& [pattern, replacement] : kVolatile) record = std::regex_replace(record, pattern, replacement);
  return record;
}

// The records the README shows: the start, a tool call while the app is not running, the typed
// text of type_text with its exchange, and the end of input.
std::vector<std::string> shown_records(const std::vector<std::string>& trace) {
  std::vector<std::string> shown;
  bool not_running_shown = false;
  bool in_type_text = false;
  for (const std::string& record : trace) {
    const json::Value value = json::Value::parse(record);
    const std::string event = value["event"].get<std::string>();
    if (event == "received") in_type_text = value["text"].get<std::string>().find("\"type_text\"") != std::string::npos;
    const bool not_running = event == "app" && value["port"].is_null() && !not_running_shown;
    not_running_shown = not_running_shown || not_running;
    if (event == "start" || event == "input_ended" || not_running || in_type_text) shown.push_back(record);
    if (event == "sent") in_type_text = false;
  }
  return shown;
}

TEST(Readme, TheTraceExampleIsTheDemoSessionsTrace) {
  if (command_for({KORVANE_MCP_BINARY}).size() != 1) GTEST_SKIP() << "the demo starts the binaries itself";
  TempDir dir;
  const char* path = std::getenv("PATH");
  Subprocess demo({"bash", (kSourceDir / "scripts/demo.sh").string()},
                  {"PATH=" + std::string(path != nullptr ? path : "/usr/bin:/bin"),
                   "KORVANE_MCP_BINARY=" + std::string(KORVANE_MCP_BINARY),
                   "KORVANE_STANDIN_BINARY=" + std::string(KORVANE_STANDIN_BINARY),
                   "KORVANE_MCP_TRACE=" + dir.file("trace.jsonl")});
  (void)demo.read_stdout_to_end();
  ASSERT_TRUE(demo.wait().success()) << demo.stderr_text();

  std::vector<std::string> real;
  for (const std::string& record : shown_records(split_lines(read_file(dir.file("trace.jsonl"))))) {
    real.push_back(steady(record));
  }
  std::vector<std::string> shown;
  for (const std::string& record : readme_example()) shown.push_back(steady(record));
  EXPECT_EQ(shown, real);
}

}  // namespace
}  // namespace korvane::e2e
