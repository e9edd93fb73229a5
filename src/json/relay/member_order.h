// The order the compact text gives an object's members: ascending byte order of the decoded
// keys, and of repeated keys only the last in the text. The outermost object's listed members,
// the members of an object held while it is written and those of an object written from an
// index are all ordered by this one function.
#pragma once

#include <algorithm>
#include <cstddef>
#include <iterator>

namespace korvane::json::detail {

// Orders [first, last) with `before` (by key, and among equal keys by place in the text), then
// keeps the last of each run of members that `same_key` says share their key; the new end. Asks
// for no memory: the writer orders members after all it needs has been taken.
template <typename It, typename Before, typename SameKey>
It order_by_key(It first, It last, Before before, SameKey same_key) {
  if (last - first <= 16) {  // small objects, most of them: insertion sort
    for (It moving = first; moving != last; ++moving) {
      auto member = std::move(*moving);
      It at = moving;
      for (; at != first && before(member, *std::prev(at)); --at) *at = std::move(*std::prev(at));
      *at = std::move(member);
    }
  } else {
    std::sort(first, last, before);
  }
  It kept = first;
  for (It member = first; member != last; ++member) {
    if (std::next(member) != last && same_key(*member, *std::next(member))) continue;
    *kept++ = std::move(*member);
  }
  return kept;
}

}  // namespace korvane::json::detail
