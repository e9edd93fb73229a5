#include "json/reader.h"

#include "json/grammar.h"
#include "json/split_read.h"
#include "json/tree_builder.h"

namespace korvane::json {

Outcome<Value> read_value(std::string_view bytes) {
  detail::Cursor in(bytes);
  detail::TreeBuilder tree;
  if (!detail::read_whole(in, tree)) return error_text(in.error_text());
  return tree.take();
}

Outcome<ByteBuffer> read_compact_literal(std::string_view bytes) {
  if (bytes.size() >= detail::kSplitFrom) {
    const std::size_t split = detail::find_split(bytes);
    if (split != std::string_view::npos) return detail::read_literal_split(bytes, split, detail::TailRun{});
  }
  return detail::read_literal_alone(bytes);
}

}  // namespace korvane::json
