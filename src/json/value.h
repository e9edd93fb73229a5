// The JSON value type shared by every part of the server: objects are maps sorted by key bytes.
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

namespace korvane::json {

using Value = nlohmann::json;

// A JSON text serialised already, carried inside a value and written as it stands, so that a
// large relayed reply is escaped only once. It is a pair of a marker and the text; the marker
// is a binary value, which only the program makes (the reader never does), so no input can
// forge one.
inline constexpr std::uint8_t kSerializedJsonSubtype = 0x4a;

inline Value serialized_json(std::string text) {
  Value pair = Value::array();
  pair.push_back(Value::binary({}, kSerializedJsonSubtype));
  pair.push_back(Value(std::move(text)));
  return pair;
}

// The text of a value made by serialized_json, or nullptr for any other value.
inline const std::string* serialized_json_text(const Value& value) {
  if (!value.is_array() || value.size() != 2 || !value[0].is_binary() || !value[1].is_string()) return nullptr;
  const auto& marker = value[0].get_binary();
  if (!marker.has_subtype() || marker.subtype() != kSerializedJsonSubtype) return nullptr;
  return &value[1].get_ref<const std::string&>();
}

}  // namespace korvane::json
