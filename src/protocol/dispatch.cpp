#include "protocol/dispatch.h"

namespace korvane {

void handle_line(std::string_view line, MethodTable methods, ResponseWriter& out) {
  auto request = read_request(line);
  if (!request) return out.add(nullptr, error_text("parse: " + request.error()));
  const McpRequest& message = request.value();
  if (message.jsonrpc != "2.0") return out.add(message.id, error_text("not jsonrpc 2.0"));
  ResultOutcome outcome = methods(message, out);
  if (!message.id.is_null()) out.add(message.id, std::move(outcome));
}

}  // namespace korvane
