#include "json/read/reader.h"

#include "json/read/grammar.h"
#include "json/read/tree_builder.h"

namespace korvane::json {

Outcome<Value> read_value(std::string_view bytes) {
  detail::Cursor in(bytes);
  detail::TreeBuilder tree;
  if (!detail::read_whole(in, tree)) return error_text(in.error_text());
  return tree.take();
}

}  // namespace korvane::json
