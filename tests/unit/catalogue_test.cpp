// The tool catalogue against the recorded tools/list response and the catalogue's own invariants.
#include "catalogue/tool_definitions.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "json/writer.h"

namespace korvane {
namespace {

std::string compact(const json::Value& value) { return json::to_json(value); }

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

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
  const std::string data = read_file(KORVANE_TEST_DATA_DIR "/request-lines.jsonl");
  std::vector<std::string> arrays;
  std::size_t begin = 0;
  while (begin < data.size()) {
    std::size_t end = data.find('\n', begin);
    if (end == std::string::npos) end = data.size();
    const json::Value vector = json::Value::parse(data.substr(begin, end - begin), nullptr, false);
    begin = end + 1;
    if (!vector.is_object() || !is_tools_list_request(vector["input"].get<std::string>())) continue;
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
  ASSERT_FALSE(recorded.empty()) << "no tools/list vector in request-lines.jsonl";
  const json::Value actual = tool_definitions();
  for (const std::string& text : recorded) {
    const json::Value expected = json::Value::parse(text);
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(actual[i], expected[i]) << "entry " << i + 1 << ": " << expected[i]["name"];
    }
    EXPECT_EQ(compact(actual), text);
  }
}

TEST(ToolDefinitions, ListsTheToolsInCatalogueOrder) {
  const std::vector<std::string> expected = {
      "sessions_list", "session_read", "session_send", "session_kill", "session_wait",
      "session_spawn", "open_markdown", "open_dev_preview", "notify", "screenshot",
      "screen_ocr", "screen_find_text", "screen_find_learned", "screen_learn", "list_learned",
      "click", "double_click", "move_mouse", "drag", "type_text",
      "key_combo", "scroll"};
  std::vector<std::string> names;
  for (const json::Value& tool : tool_definitions()) names.push_back(tool["name"].get<std::string>());
  EXPECT_EQ(names, expected);
}

// Descriptors written out in full in the protocol documentation of the server.
TEST(ToolDefinitions, WritesDocumentedDescriptorsByteForByte) {
  struct Case {
    std::size_t index;
    std::string_view line;
  };
  const Case cases[] = {
      {3,
       R"({"description":"Close another session (a child agent you spawned) when its work is done. )"
       R"(Cannot kill your own session.","inputSchema":{"properties":{"id":{"description":"Session id )"
       R"(from sessions_list","type":"string"}},"required":["id"],"type":"object"},"name":"session_kill"})"},
      {15,
       R"({"description":"Move the mouse to (x,y) in logical points and click. button defaults to 'left'.",)"
       R"("inputSchema":{"properties":{"button":{"enum":["left","right","middle"],"type":"string"},)"
       R"("x":{"type":"integer"},"y":{"type":"integer"}},"required":["x","y"],"type":"object"},)"
       R"("name":"click"})"},
  };
  const json::Value tools = tool_definitions();
  for (const Case& c : cases) EXPECT_EQ(compact(tools[c.index]), c.line);
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
    EXPECT_TRUE(byte >= 0x20 && byte < 0x7f && c != '"' && c != '\\')
        << "byte " << int{byte} << " in " << value;
  }
}

TEST(ToolDefinitions, TextsArePlainSingleLineStrings) { expect_clean_texts(tool_definitions()); }

}  // namespace
}  // namespace korvane
