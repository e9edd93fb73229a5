// Any input through the request loop's line handling, line by line as the loop splits it, with
// no desktop app: every answer is one JSON line, "jsonrpc":"2.0" first, carrying exactly the
// outcome the method table calls for.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "bridge/socket_info.h"
#include "catalogue/tool_definitions.h"
#include "common/version.h"
#include "fuzz_check.h"
#include "json/read/reader.h"
#include "json/write/writer.h"
#include "methods/method_table.h"
#include "protocol/dispatch.h"
#include "protocol/request.h"

namespace korvane::fuzz {
namespace {

struct Reply {
  json::Value id;
  Outcome<json::Value> outcome;
};

std::string response_line(const Reply& reply) {
  std::string line;
  append_response(line, reply.id,
                  reply.outcome ? ResultOutcome(Result(reply.outcome.value())) : error_text(reply.outcome.error()));
  return line;
}

// The reply a line must get, worked out from the request alone; nullopt when none is due.
std::optional<Reply> expected_reply(std::string_view line) {
  auto read = read_request(line);
  if (!read) return Reply{nullptr, error_text("parse: " + read.error())};
  const McpRequest& request = read.value();
  if (request.jsonrpc != "2.0") return Reply{request.id, error_text("not jsonrpc 2.0")};
  if (request.id.is_null()) return std::nullopt;
  const std::string& method = request.method;
  if (method == "initialize") {
    json::Value result = {{"capabilities", {{"tools", json::Value::object()}}},
                          {"protocolVersion", "2024-11-05"},
                          {"serverInfo", {{"name", kServerName}, {"version", kServerVersion}}}};
    return Reply{request.id, std::move(result)};
  }
  if (method == "notifications/initialized") return Reply{request.id, json::Value(nullptr)};
  if (method == "tools/list") return Reply{request.id, json::Value{{"tools", tool_definitions()}}};
  if (method != "tools/call") return Reply{request.id, error_text("unknown method: " + method)};
  const json::Value params = json::read_value(request.params).value();
  const bool named = params.is_object() && params.contains("name") && params["name"].is_string();
  return Reply{request.id, error_text(named ? std::string(kAppNotRunning) : "missing name")};
}

void check_response_line(const std::string& line, const Reply& reply) {
  FUZZ_CHECK(line.ends_with('\n') && line.find('\n') == line.size() - 1, line);
  FUZZ_CHECK(line.starts_with("{\"jsonrpc\":\"2.0\",\"id\":"), line);
  auto value = json::read_value(line);
  FUZZ_CHECK(value.ok(), line + (value.ok() ? "" : " does not read: " + value.error()));
  const json::Value& response = value.value();
  FUZZ_CHECK(response.is_object() && response.size() == 3, line);
  FUZZ_CHECK(same_value(response["id"], reply.id), line);
  if (reply.outcome.ok()) {
    FUZZ_CHECK(response.contains("result") && same_value(response["result"], reply.outcome.value()), line);
    return;
  }
  const json::Value expected_error{{"code", -32000}, {"message", reply.outcome.error()}};
  FUZZ_CHECK(response.contains("error") && response["error"] == expected_error, line);
}

void check_line(std::string_view line) {
  const std::optional<Reply> expected = expected_reply(line);
  std::string out;
  ResponseWriter writer(out);
  handle_line(line, answer_method, writer);
  (void)writer.flush();
  FUZZ_CHECK(out.empty() != expected.has_value(), std::string(line) + " answered with: " + out);
  if (!expected) return;
  const std::string wanted = response_line(*expected);
  FUZZ_CHECK(out == wanted, out + " instead of " + wanted);
  check_response_line(out, *expected);
}

}  // namespace
}  // namespace korvane::fuzz

// Tool calls find no socket-info file, so none of them leaves the process.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  ::setenv("KORVANE_SOCKET_INFO", "/nonexistent/korvane-fuzz/socket-info.json", 1);
  ::unsetenv("KORVANE_SESSION_ID");
  return 0;
}

// Splits the input as the loop does: at "\n", dropping a "\r" before it (a last line without
// "\n" keeps its "\r"), skipping empty lines and stopping at the first line that is not UTF-8.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view rest = korvane::fuzz::as_text(data, size);
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (end != std::string_view::npos && line.ends_with('\r')) line.remove_suffix(1);
    if (!korvane::fuzz::is_well_formed_utf8(line)) break;
    if (!line.empty()) korvane::fuzz::check_line(line);
  }
  return 0;
}
