// The strict JSON reader, the door of src/json/read/: one JSON text from bytes into a value,
// or into a record's named fields, with exact reason texts and positions.
//
// Every failure reads "<reason> at line <L> column <C>". Arrays and objects nest at most
// 127 levels. Strings must decode to valid UTF-8.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "base/outcome.h"
#include "json/shared/value.h"

namespace korvane::json {

// Reads one JSON text, with whitespace around it, into a value.
Outcome<Value> read_value(std::string_view bytes);

// Records with named fields: a JSON object read by key, or an array by position.
// What a record field accepts.
enum class FieldKind {
  kString,    // a JSON string
  kAny,       // any JSON value
  kU16,       // an integer from 0 to 65535
  kJsonText,  // any JSON value, checked as reading it would check it, kept as written
};

// A JSON value as it stands in the input.
struct JsonText {
  std::string_view text;
};

// A field as read; monostate for an absent field that defaults to null.
using FieldValue = std::variant<std::monostate, std::string, std::uint16_t, Value, JsonText>;

struct FieldSpec {
  std::string_view name;
  FieldKind kind;
  bool defaults_to_null;  // an absent field is null instead of "missing field"
};

struct RecordSpec {
  std::string_view type_name;  // as in "expected struct <type_name>"
  std::span<const FieldSpec> fields;
};

// Reads one JSON text into the record's fields (one per FieldSpec, at most 64), in
// declared order. Unknown object members are skipped by a scanner without depth limit;
// repeated known members are rejected. Every failure reads "<reason> at line <L> column <C>".
// JsonText fields view `bytes`.
Outcome<void> read_record(std::string_view bytes, const RecordSpec& spec, std::span<FieldValue> fields);

}  // namespace korvane::json
