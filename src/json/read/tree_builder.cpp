#include "json/read/tree_builder.h"

namespace korvane::json::detail {

Value& TreeBuilder::slot() {
  if (stack_.empty()) return root_;
  Value& container = *stack_.back();
  if (container.is_array()) return container.get_ref<Value::array_t&>().emplace_back();
  return container.get_ref<Value::object_t&>()[key_];
}

void TreeBuilder::open(Value container) {
  Value& place = slot();
  place = std::move(container);
  stack_.push_back(&place);
}

}  // namespace korvane::json::detail
