// Reading typed members out of a request's params.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "json/shared/value.h"

namespace korvane::standin {

inline const json::Value* member(const json::Value& params, std::string_view name) {
  if (!params.is_object()) return nullptr;
  const auto found = params.find(name);
  return found == params.end() ? nullptr : &*found;
}

inline std::optional<std::string> string_member(const json::Value& params, std::string_view name) {
  const json::Value* value = member(params, name);
  if (!value || !value->is_string()) return std::nullopt;
  return value->get<std::string>();
}

inline std::optional<std::int64_t> integer_member(const json::Value& params, std::string_view name) {
  const json::Value* value = member(params, name);
  if (!value || !value->is_number_integer()) return std::nullopt;
  if (value->is_number_unsigned()) {
    const auto unsigned_value = value->get<std::uint64_t>();
    if (unsigned_value > static_cast<std::uint64_t>(INT64_MAX)) return std::nullopt;
    return static_cast<std::int64_t>(unsigned_value);
  }
  return value->get<std::int64_t>();
}

inline std::optional<bool> boolean_member(const json::Value& params, std::string_view name) {
  const json::Value* value = member(params, name);
  if (!value || !value->is_boolean()) return std::nullopt;
  return value->get<bool>();
}

inline json::Value app_error(std::string text) { return json::Value{{"error", std::move(text)}}; }

}  // namespace korvane::standin
