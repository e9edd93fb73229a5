// The compact JSON writer, the door of src/json/write/: sorted keys, minimal escaping, integers
// digit for digit and doubles in their shortest round-trip form.
#pragma once

#include <string>
#include <string_view>

#include "json/shared/value.h"
#include "json/write/escape.h"  // escaping text for a string of one's own

namespace korvane::json {

// Appends the compact text of a value.
void append_json(std::string& out, const Value& value);

// The compact text of a value.
std::string to_json(const Value& value);

// Appends a JSON string literal, escaping only '"', '\\' and U+0000 to U+001F.
void append_json_string(std::string& out, std::string_view text);

// Appends a finite double: shortest digits, plain notation for decimal exponents -5 to 15
// (".0" added to whole numbers), otherwise d[.ddd]e(+|-)X.
void append_double(std::string& out, double value);

// Appends what append_double would for the double a JSON number's text denotes, straight from
// its digits, when that can be done exactly (up to 15 significant digits, a normal double);
// false, with nothing appended, otherwise.
bool append_number_text_shortest(std::string& out, std::string_view number);

}  // namespace korvane::json
