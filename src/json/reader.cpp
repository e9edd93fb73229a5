#include "json/reader.h"

#include "json/grammar.h"
#include "json/tree_builder.h"

namespace korvane::json {

Outcome<Value> read_value(std::string_view bytes) {
  detail::Cursor in(bytes);
  detail::TreeBuilder tree;
  if (!detail::read_whole(in, tree)) return error_text(in.error_text());
  return tree.take();
}

Outcome<CompactLiteral> read_compact_literal(std::string_view bytes) {
  ByteBuffer text;
  text.append(bytes);
  return CompactLiteral::read(text, 0);
}

}  // namespace korvane::json
