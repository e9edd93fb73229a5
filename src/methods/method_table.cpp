#include "methods/method_table.h"

#include "bridge/tool_call.h"
#include "catalogue/tool_definitions.h"
#include "common/version.h"
#include "json/reader.h"
#include "json/writer.h"

namespace korvane {
namespace {

// The answers that never change, serialised at their first use.
ConstantJson initialize_result() {
  static const std::string text = json::to_json(json::Value{
      {"capabilities", {{"tools", json::Value::object()}}},
      {"protocolVersion", "2024-11-05"},
      {"serverInfo", {{"name", kServerName}, {"version", kServerVersion}}},
  });
  return {text};
}

ConstantJson tools_list_result() {
  static const std::string text = json::to_json(json::Value{{"tools", tool_definitions()}});
  return {text};
}

ResultOutcome call_tool(std::string_view params_text) {
  auto read = json::read_value(params_text);  // checked as the request was read: it reads
  if (!read || !read.value().is_object()) return error_text("missing name");
  json::Value& params = read.value();
  auto name = params.find("name");
  if (name == params.end() || !name->is_string()) return error_text("missing name");
  auto arguments = params.find("arguments");
  json::Value taken = arguments == params.end() ? json::Value::object() : std::move(*arguments);
  auto result = handle_tool_call(name->get_ref<const std::string&>(), std::move(taken));
  if (!result) return std::move(result).failure();
  return Result(ToolResult{std::move(result).value()});
}

}  // namespace

ResultOutcome answer_method(const McpRequest& request, ResponseWriter& out) {
  const std::string& method = request.method;
  if (method == "initialize") return Result(initialize_result());
  if (method == "notifications/initialized") return Result(json::Value(nullptr));
  if (method == "tools/list") return Result(tools_list_result());
  if (method == "tools/call") {
    // What is queued goes out before the call waits; with nobody reading, nothing is called.
    if (auto flushed = out.flush(); !flushed) return std::move(flushed).failure();
    return call_tool(request.params);
  }
  return error_text("unknown method: " + method);
}

}  // namespace korvane
