// Assembles the catalogue descriptors from the constant tool specs.
#include "catalogue/tool_definitions.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "catalogue/tool_table.h"
#include "json/write/writer.h"

namespace korvane {
namespace {

using catalogue::ArgSpec;
using catalogue::ToolSpec;

constexpr std::size_t kToolCount = 22;
// No tool takes more arguments than this.
constexpr std::size_t kMaxArgs = 16;

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

// The descriptors written as text directly, with members in the order a JSON object of them
// is written (by name): plain strings only, so that nothing but an append can run short.
void append_text_array(std::string& out, std::span<const std::string_view> texts) {
  out += '[';
  for (std::size_t at = 0; at < texts.size(); ++at) {
    if (at > 0) out += ',';
    json::append_json_string(out, texts[at]);
  }
  out += ']';
}

void append_property_schema(std::string& out, const ArgSpec& arg) {
  out += '{';
  if (!arg.description.empty()) {
    out += "\"description\":";
    json::append_json_string(out, arg.description);
    out += ',';
  }
  if (!arg.choices.empty()) {
    out += "\"enum\":";
    append_text_array(out, arg.choices);
    out += ',';
  }
  out += "\"type\":";
  json::append_json_string(out, arg.type);
  out += '}';
}

void append_input_schema(std::string& out, std::span<const ArgSpec> args) {
  std::array<const ArgSpec*, kMaxArgs> by_name{};
  const std::size_t count = std::min(args.size(), kMaxArgs);
  for (std::size_t at = 0; at < count; ++at) by_name[at] = &args[at];
  std::sort(by_name.begin(), by_name.begin() + count,
            [](const ArgSpec* a, const ArgSpec* b) { return a->name < b->name; });
  out += "{\"properties\":{";
  for (std::size_t at = 0; at < count; ++at) {
    if (at > 0) out += ',';
    json::append_json_string(out, by_name[at]->name);
    out += ':';
    append_property_schema(out, *by_name[at]);
  }
  out += '}';
  bool any_required = false;
  for (const ArgSpec& arg : args) {
    if (!arg.required) continue;
    out += any_required ? "," : ",\"required\":[";
    json::append_json_string(out, arg.name);
    any_required = true;
  }
  if (any_required) out += ']';
  out += ",\"type\":\"object\"}";
}

void append_descriptor_texts(std::string& out, std::span<const ToolSpec> tools) {
  for (const ToolSpec& tool : tools) {
    if (out.back() != '[') out += ',';
    out += "{\"description\":";
    json::append_json_string(out, tool.description);
    out += ",\"inputSchema\":";
    append_input_schema(out, tool.args);
    out += ",\"name\":";
    json::append_json_string(out, tool.name);
    out += '}';
  }
}

}  // namespace

std::string tools_list_text() {
  std::string out = "{\"tools\":[";
  append_descriptor_texts(out, catalogue::session_and_viewer_tools());
  append_descriptor_texts(out, catalogue::desktop_tools());
  out += "]}";
  return out;
}

json::Value tool_definitions() {
  json::Value::array_t tools;
  tools.reserve(kToolCount);
  append_descriptors(tools, catalogue::session_and_viewer_tools());
  append_descriptors(tools, catalogue::desktop_tools());
  return json::Value(std::move(tools));
}

}  // namespace korvane
