#include "protocol/response.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "common/posix.h"
#include "diagnostics/trace.h"
#include "json/writer.h"

namespace korvane {
namespace {

[[noreturn]] void die_on_stdout_failure(int error_number) {
  trace::stdout_failed(error_number);
  std::string diagnostic = "korvane-mcp: cannot write to standard output: " + os_error_text(error_number) + "\n";
  (void)write_all(STDERR_FILENO, diagnostic);
  std::_Exit(1);
}

}  // namespace

void append_response(std::string& out, const json::Value& id, const ToolOutcome& outcome) {
  out += "{\"jsonrpc\":\"2.0\",\"id\":";
  json::append_json(out, id);
  if (outcome.ok()) {
    out += ",\"result\":";
    json::append_json(out, outcome.value());
  } else {
    out += ",\"error\":{\"code\":-32000,\"message\":";
    json::append_json_string(out, outcome.error());
    out += '}';
  }
  out += "}\n";
}

void write_response(json::Value id, ToolOutcome outcome) {
  std::string line;
  append_response(line, id, outcome);
  if (int error_number = write_all(STDOUT_FILENO, line); error_number != 0) {
    die_on_stdout_failure(error_number);
  }
  trace::response_written(line);
}

}  // namespace korvane
