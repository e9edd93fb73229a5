#include "json/reader.h"

#include "json/builders.h"
#include "json/parser.h"

namespace korvane::json {

Outcome<Value> read_value(std::string_view bytes) {
  detail::TreeBuilder tree;
  detail::Parser parser(bytes, tree);
  if (!parser.parse_value() || !parser.end()) return error_text(parser.error_text());
  return tree.take();
}

Outcome<std::string> read_compact_as_string(std::string_view bytes) {
  std::string literal;
  // Escaping can at most about double a text; pages reserved but never written cost nothing.
  literal.reserve(2 * bytes.size() + 64);
  literal += '"';
  detail::TextBuilder builder(literal);
  detail::Parser parser(bytes, builder);
  if (!parser.parse_value() || !parser.end()) return error_text(parser.error_text());
  literal += '"';
  return literal;
}

Outcome<std::vector<Value>> read_record(std::string_view bytes, const RecordSpec& spec) {
  detail::TreeBuilder tree;
  detail::Parser parser(bytes, tree);
  std::vector<Value> fields(spec.fields.size());
  if (!parser.parse_record(spec, fields) || !parser.end()) return error_text(parser.error_text());
  return fields;
}

}  // namespace korvane::json
