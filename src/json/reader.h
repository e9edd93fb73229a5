// The strict JSON reader: one JSON text from bytes, with exact reason texts and positions.
//
// Every failure reads "<reason> at line <L> column <C>". Arrays and objects nest at most
// 127 levels. Strings must decode to valid UTF-8.
#pragma once

#include <string>
#include <string_view>

#include "base/outcome.h"
#include "common/byte_buffer.h"
#include "json/compact_literal.h"
#include "json/value.h"

namespace korvane::json {

// Reads one JSON text, with whitespace around it, into a value.
Outcome<Value> read_value(std::string_view bytes);

// Reads one JSON text as read_value does, with the same errors, without building the value,
// for writing the compact text that writing the value would give as a JSON string literal:
// quoted and escaped, ready to stand in a JSON text as a string whose value is that text.
Outcome<CompactLiteral> read_compact_literal(std::string_view bytes);

}  // namespace korvane::json
