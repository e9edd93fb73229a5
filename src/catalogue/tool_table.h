// The catalogue as constant data: one spec per tool, one spec per argument.
#pragma once

#include <span>
#include <string_view>

namespace korvane::catalogue {

// JSON Schema type names used by the argument specs.
inline constexpr std::string_view kString = "string";
inline constexpr std::string_view kInteger = "integer";
inline constexpr std::string_view kBoolean = "boolean";

// One argument: its property schema and whether it is required.
// An empty description or an empty choice list leaves that member out of the schema.
struct ArgSpec {
  std::string_view name;
  std::string_view type;
  std::string_view description = {};
  std::span<const std::string_view> choices = {};
  bool required = false;
};

// One tool descriptor; the arguments are listed in the order their names go into `required`.
struct ToolSpec {
  std::string_view name;
  std::string_view description;
  std::span<const ArgSpec> args = {};
};

// Entries 1 to 9: the session, viewer and notification tools.
std::span<const ToolSpec> session_and_viewer_tools();

// Entries 10 to 22: screen capture, OCR, template matching, mouse and keyboard.
std::span<const ToolSpec> desktop_tools();

}  // namespace korvane::catalogue
