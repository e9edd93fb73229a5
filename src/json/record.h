// Reading records with named fields: a JSON object read by key, or an array by position.
#pragma once

#include <span>
#include <string_view>
#include <vector>

#include "common/outcome.h"
#include "json/value.h"

namespace korvane::json {

// What a record field accepts.
enum class FieldKind {
  kString,  // a JSON string
  kAny,     // any JSON value
  kU16,     // an integer from 0 to 65535
};

struct FieldSpec {
  std::string_view name;
  FieldKind kind;
  bool defaults_to_null;  // an absent field is null instead of "missing field"
};

struct RecordSpec {
  std::string_view type_name;  // as in "expected struct <type_name>"
  std::span<const FieldSpec> fields;
};

// Reads one JSON text into the record's fields, in declared order. Unknown object members
// are skipped by a scanner without depth limit; repeated known members are rejected. Every
// failure reads "<reason> at line <L> column <C>".
Outcome<std::vector<Value>> read_record(std::string_view bytes, const RecordSpec& spec);

}  // namespace korvane::json
