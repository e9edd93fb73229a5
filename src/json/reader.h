// The strict JSON reader: one JSON text from bytes, with exact reason texts and positions.
//
// Every failure reads "<reason> at line <L> column <C>". Arrays and objects nest at most
// 127 levels. Strings must decode to valid UTF-8.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/outcome.h"
#include "json/value.h"

namespace korvane::json {

// Reads one JSON text, with whitespace around it, into a value.
Outcome<Value> read_value(std::string_view bytes);

// Reads one JSON text as read_value does, with the same errors, without building the value,
// and gives the compact text that writing the value would give as a JSON string literal:
// quoted and escaped, ready to stand in a JSON text as a string whose value is that text.
Outcome<std::string> read_compact_as_string(std::string_view bytes);

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

// A record with named fields, read from an object by key or from an array by position.
struct RecordSpec {
  std::string_view type_name;  // as in "expected struct <type_name>"
  std::span<const FieldSpec> fields;
};

// Reads one JSON text into the record's fields, in declared order. Unknown object members
// are skipped by a scanner without depth limit; repeated known members are rejected.
Outcome<std::vector<Value>> read_record(std::string_view bytes, const RecordSpec& spec);

}  // namespace korvane::json
