// The tool catalogue against the recorded tools/list response and the catalogue's own invariants.
#include "catalogue/tool_definitions.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "files.h"
#include "json/write/writer.h"

namespace korvane {
namespace {

std::string compact(const json::Value& value) { return json::to_json(value); }

bool is_tools_list_request(const std::string& line) {
  if (line.find("\"tools/list\"") == std::string::npos) return false;
  const json::Value request = json::Value::parse(line, nullptr, false);
  if (request.is_discarded() || !request.is_object()) return false;
  const auto method = request.find("method");
  return method != request.end() && *method == "tools/list";
}

// The `tools` array text of every successful tools/list response in the request-line vectors,
// cut out of the response line byte for byte.
std::vector<std::string> recorded_tools_arrays() {
  constexpr std::string_view kHead = R"("result":{"tools":)";
  constexpr std::string_view kTail = "}}";
  std::vector<std::string> arrays;
  for (const json::Value& vector : testing_support::load_jsonl("request-lines.jsonl")) {
    if (!is_tools_list_request(vector["input"].get<std::string>())) continue;
    const std::string& output = vector["output"].get_ref<const std::string&>();
    const std::size_t head = output.find(kHead);
    if (head == std::string::npos || !output.ends_with(kTail)) continue;
    const std::size_t from = head + kHead.size();
    arrays.push_back(output.substr(from, output.size() - kTail.size() - from));
  }
  return arrays;
}

TEST(ToolDefinitions, MatchesRecordedToolsListResponse) {
  const std::vector<std::string> recorded = recorded_tools_arrays();
  ASSERT_EQ(recorded.size(), 1u) << "tools/list vectors in request-lines.jsonl";
  const json::Value actual = tool_definitions();
  for (const std::string& text : recorded) {
    const json::Value expected = json::Value::parse(text);
    ASSERT_EQ(actual.size(), expected.size());
    // Entry by entry first for a readable failure, then the whole array byte for byte.
    for (std::size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(actual[i], expected[i]) << "entry " << i + 1 << ": " << expected[i]["name"];
    }
    EXPECT_EQ(compact(actual), text);
    // The text answered to tools/list is written without the JSON writer: the same bytes.
    EXPECT_EQ(tools_list_text(), R"({"tools":)" + text + "}");
  }
}

std::set<std::string> keys_of(const json::Value& object) {
  std::set<std::string> keys;
  for (const auto& [key, value] : object.items()) keys.insert(key);
  return keys;
}

bool is_subset(const std::set<std::string>& keys, const std::set<std::string>& allowed) {
  for (const std::string& key : keys) {
    if (!allowed.contains(key)) return false;
  }
  return true;
}

void expect_property_schema_shape(const std::string& where, const json::Value& schema) {
  ASSERT_TRUE(schema.is_object()) << where;
  EXPECT_TRUE(is_subset(keys_of(schema), {"description", "enum", "type"})) << where;
  const std::set<std::string> types = {"string", "integer", "boolean"};
  EXPECT_TRUE(schema.contains("type") && types.contains(schema["type"].get<std::string>())) << where;
  if (schema.contains("enum")) {
    EXPECT_FALSE(schema["enum"].empty()) << where;
  }
}

void expect_input_schema_shape(const std::string& tool, const json::Value& schema) {
  ASSERT_TRUE(schema.is_object()) << tool;
  EXPECT_TRUE(is_subset(keys_of(schema), {"properties", "required", "type"})) << tool;
  EXPECT_EQ(schema["type"], "object") << tool;
  ASSERT_TRUE(schema.contains("properties") && schema["properties"].is_object()) << tool;
  const json::Value& properties = schema["properties"];
  for (const auto& [name, property] : properties.items()) {
    expect_property_schema_shape(tool + "." + name, property);
  }
  if (!schema.contains("required")) return;
  const json::Value& required = schema["required"];
  EXPECT_FALSE(required.empty()) << tool << ": an empty required array is left out instead";
  std::set<std::string> seen;
  for (const json::Value& name : required) {
    EXPECT_TRUE(properties.contains(name.get<std::string>())) << tool << " requires unknown " << name;
    EXPECT_TRUE(seen.insert(name.get<std::string>()).second) << tool << " requires twice " << name;
  }
}

TEST(ToolDefinitions, EveryDescriptorHasTheToolShape) {
  std::set<std::string> names;
  for (const json::Value& tool : tool_definitions()) {
    ASSERT_EQ(keys_of(tool), (std::set<std::string>{"description", "inputSchema", "name"}));
    const std::string name = tool["name"].get<std::string>();
    EXPECT_TRUE(names.insert(name).second) << "duplicate tool " << name;
    expect_input_schema_shape(name, tool["inputSchema"]);
  }
}

// Every leaf is a string of printable text; the em dash is the only non-ASCII character.
void expect_clean_texts(const json::Value& value) {
  if (value.is_structured()) {
    for (const auto& [key, member] : value.items()) {
      expect_clean_texts(json::Value(key));
      expect_clean_texts(member);
    }
    return;
  }
  ASSERT_TRUE(value.is_string()) << value;
  std::string rest = value.get<std::string>();
  for (std::size_t at = rest.find("\u2014"); at != std::string::npos; at = rest.find("\u2014")) {
    rest.erase(at, 3);
  }
  for (const char c : rest) {
    const auto byte = static_cast<unsigned char>(c);
    EXPECT_TRUE(byte >= 0x20 && byte < 0x7f && c != '"' && c != '\\') << "byte " << int{byte} << " in " << value;
  }
}

TEST(ToolDefinitions, TextsArePlainSingleLineStrings) { expect_clean_texts(tool_definitions()); }

}  // namespace
}  // namespace korvane
