#include "protocol/response.h"

#include <unistd.h>

#include <cerrno>
#include <new>

#include "common/posix.h"
#include "common/stdout_failure.h"
#include "diagnostics/trace.h"
#include "json/writer.h"

namespace korvane {
namespace {

std::string out_of_memory_text() { return "read: " + os_error_text(ENOMEM); }

// The response line, or when it cannot be held the out-of-memory text for the same id (for
// id null when not even the id can be held again).
std::string response_line(const json::Value& id, const ToolOutcome& outcome) {
  std::string line;
  try {
    append_response(line, id, outcome);
    return line;
  } catch (const std::bad_alloc&) {
    std::string().swap(line);
  }
  try {
    append_response(line, id, error_text(out_of_memory_text()));
  } catch (const std::bad_alloc&) {
    std::string().swap(line);
    append_response(line, json::Value(nullptr), error_text(out_of_memory_text()));
  }
  return line;
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
  const std::string line = response_line(id, outcome);
  if (auto written = write_all(STDOUT_FILENO, line); !written) {
    trace::stdout_failed(written.error());
    exit_stdout_unwritable(written.error());
  }
  trace::response_written(line);
}

}  // namespace korvane
