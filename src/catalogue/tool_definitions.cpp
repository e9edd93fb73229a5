// Assembles the catalogue descriptors from the constant tool specs.
#include "catalogue/tool_definitions.h"

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "catalogue/tool_table.h"

namespace korvane {
namespace {

using catalogue::ArgSpec;
using catalogue::ToolSpec;

constexpr std::size_t kToolCount = 22;

json::Value string_array(std::span<const std::string_view> texts) {
  json::Value array = json::Value::array();
  for (std::string_view text : texts) array.push_back(std::string(text));
  return array;
}

json::Value property_schema(const ArgSpec& arg) {
  json::Value schema = json::Value::object();
  schema["type"] = std::string(arg.type);
  if (!arg.description.empty()) schema["description"] = std::string(arg.description);
  if (!arg.choices.empty()) schema["enum"] = string_array(arg.choices);
  return schema;
}

json::Value input_schema(std::span<const ArgSpec> args) {
  json::Value properties = json::Value::object();
  json::Value required = json::Value::array();
  for (const ArgSpec& arg : args) {
    properties[std::string(arg.name)] = property_schema(arg);
    if (arg.required) required.push_back(std::string(arg.name));
  }
  json::Value schema = json::Value::object();
  schema["type"] = "object";
  schema["properties"] = std::move(properties);
  // An input schema without required arguments has no `required` member at all.
  if (!required.empty()) schema["required"] = std::move(required);
  return schema;
}

json::Value descriptor(const ToolSpec& tool) {
  json::Value entry = json::Value::object();
  entry["name"] = std::string(tool.name);
  entry["description"] = std::string(tool.description);
  entry["inputSchema"] = input_schema(tool.args);
  return entry;
}

void append_descriptors(json::Value::array_t& out, std::span<const ToolSpec> tools) {
  for (const ToolSpec& tool : tools) out.push_back(descriptor(tool));
}

}  // namespace

json::Value tool_definitions() {
  json::Value::array_t tools;
  tools.reserve(kToolCount);
  append_descriptors(tools, catalogue::session_and_viewer_tools());
  append_descriptors(tools, catalogue::desktop_tools());
  return json::Value(std::move(tools));
}

}  // namespace korvane
