#include "methods/method_table.h"

#include <cerrno>
#include <new>

#include "bridge/tool_call.h"
#include "catalogue/tool_definitions.h"
#include "common/version.h"
#include "json/read/reader.h"
#include "json/write/writer.h"
#include "platform/os_error.h"

namespace korvane {
namespace {

// The answers that never change, written at their first use from plain strings (nothing
// whose destruction needs memory), where running short is an error answer to that request
// like any other: the next request tries again.
std::string initialize_text() {
  std::string text = R"({"capabilities":{"tools":{}},"protocolVersion":"2024-11-05","serverInfo":{"name":)";
  json::append_json_string(text, kServerName);
  text += ",\"version\":";
  json::append_json_string(text, kServerVersion);
  text += "}}";
  return text;
}

template <std::string (*Build)()>
ResultOutcome constant_result() {
  try {
    static const std::string text = Build();
    return Result(ConstantJson{text});
  } catch (const std::bad_alloc&) {
    return error_text(os_error_text(ENOMEM));
  }
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
  if (method == "initialize") return constant_result<initialize_text>();
  if (method == "notifications/initialized") return Result(json::Value(nullptr));
  if (method == "tools/list") return constant_result<tools_list_text>();
  if (method == "tools/call") {
    // What is queued goes out before the call waits; with nobody reading, nothing is called.
    if (auto flushed = out.flush(); !flushed) return std::move(flushed).failure();
    return call_tool(request.params);
  }
  return error_text("unknown method: " + method);
}

}  // namespace korvane
