#include "json/reader.h"

#include "json/grammar.h"
#include "json/literal_builder.h"
#include "json/tree_builder.h"

namespace korvane::json {
namespace {

// One value with whitespace around it and nothing else.
template <typename Builder>
bool read_whole(detail::Cursor& in, Builder& builder) {
  if (!detail::read_json(in, builder, detail::kMaxDepth)) return false;
  return in.skip_whitespace() < 0 || in.peek_error("trailing characters");
}

}  // namespace

Outcome<Value> read_value(std::string_view bytes) {
  detail::Cursor in(bytes);
  detail::TreeBuilder tree;
  if (!read_whole(in, tree)) return error_text(in.error_text());
  return tree.take();
}

Outcome<ByteBuffer> read_compact_literal(std::string_view bytes) {
  ByteBuffer literal;
  // Escaping can at most about double a text; pages reserved but never written cost nothing.
  literal.reserve(2 * bytes.size() + 64);
  literal.push_back('"');
  detail::Cursor in(bytes);
  detail::LiteralBuilder builder(literal);
  if (!read_whole(in, builder)) return error_text(in.error_text());
  literal.push_back('"');
  return literal;
}

}  // namespace korvane::json
