#include "json/reader.h"

#include "json/grammar.h"
#include "json/literal_builder.h"
#include "json/tree_builder.h"

namespace korvane::json {

Outcome<Value> read_value(std::string_view bytes) {
  detail::Cursor in(bytes);
  detail::TreeBuilder tree;
  if (!detail::read_whole(in, tree)) return error_text(in.error_text());
  return tree.take();
}

Outcome<ByteBuffer> read_compact_literal(std::string_view bytes) {
  ByteBuffer literal;
  literal.reserve(2 * bytes.size() + 64);  // as long as escaping could make it; pages never written cost nothing
  literal.push_back('"');
  detail::Cursor in(bytes);
  if (!detail::read_literal(in, literal)) return error_text(in.error_text());
  literal.push_back('"');
  return literal;
}

}  // namespace korvane::json
