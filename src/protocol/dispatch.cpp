#include "protocol/dispatch.h"

#include "bridge/tool_call.h"
#include "catalogue/tool_definitions.h"
#include "common/version.h"
#include "protocol/request.h"

namespace korvane {
namespace {

json::Value initialize_result() {
  return json::Value{
      {"capabilities", {{"tools", json::Value::object()}}},
      {"protocolVersion", "2024-11-05"},
      {"serverInfo", {{"name", kServerName}, {"version", kServerVersion}}},
  };
}

ToolOutcome call_tool(json::Value& params) {
  if (!params.is_object()) return error_text("missing name");
  auto name = params.find("name");
  if (name == params.end() || !name->is_string()) return error_text("missing name");
  auto arguments = params.find("arguments");
  json::Value taken = arguments == params.end() ? json::Value::object() : std::move(*arguments);
  return handle_tool_call(name->get_ref<const std::string&>(), std::move(taken));
}

ToolOutcome dispatch(McpRequest& request) {
  const std::string& method = request.method;
  if (method == "initialize") return initialize_result();
  if (method == "notifications/initialized") return json::Value(nullptr);
  if (method == "tools/list") return json::Value{{"tools", tool_definitions()}};
  if (method == "tools/call") return call_tool(request.params);
  return error_text("unknown method: " + method);
}

}  // namespace

std::optional<Reply> handle_line(std::string_view line) {
  auto request = read_request(line);
  if (!request) return Reply{json::Value(nullptr), error_text("parse: " + request.error())};
  McpRequest& message = request.value();
  if (message.jsonrpc != "2.0") return Reply{std::move(message.id), error_text("not jsonrpc 2.0")};
  ToolOutcome outcome = dispatch(message);
  if (message.id.is_null()) return std::nullopt;
  return Reply{std::move(message.id), std::move(outcome)};
}

}  // namespace korvane
