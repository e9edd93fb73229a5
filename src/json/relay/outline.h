// What writing a checked text as a literal needs to know of it, and the exact reading that
// gathers it: the outermost object's members, the longest span between two places where no
// object but the outermost is open, and the most members of objects open at once.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "json/read/cursor.h"

namespace korvane::json::detail {

// An object is written in the order of its text and its members ordered at its end while it
// spans at most this many bytes of input; a larger one is written again, in key order, from
// an index of its members (LiteralWriter::write_in_key_order), so that what is held for it
// stays small.
inline constexpr std::size_t kHeldSpan = std::size_t{64} << 10;

// A member of the outermost object: its decoded key and where its value lies in the text.
struct OuterMember {
  std::size_t key_start, key_size;  // in TextOutline::keys
  std::size_t value_start, value_end;

  bool operator==(const OuterMember&) const = default;
};

struct TextOutline {
  bool outer_object = false;         // the text is an object
  bool members_listed = true;        // false: it has more members than are listed (none are)
  std::vector<OuterMember> members;  // of the outermost object, in the order of the text
  std::string keys;                  // their decoded keys, one after the other
  // The longest span between two places where no object is open but the outermost: a value
  // starts there, a member of the outermost object does, or the text ends.
  std::size_t longest_span = 0;
  // Most members of objects open at once, the outermost object's not counted.
  std::size_t most_members = 0;
  // What writing holds of the text beyond its spans (see LiteralWriter::reserve_for): the longest
  // string, keys included, with its quotes; and the members of every object that spans more than
  // kHeldSpan bytes from its '{' to its '}', the outermost included, which writing may index.
  std::size_t longest_string = 0;
  std::size_t indexed_members = 0;

  std::string_view key_of(const OuterMember& member) const {
    return std::string_view(keys).substr(member.key_start, member.key_size);
  }
  bool operator==(const TextOutline&) const = default;
};

// The outermost object's members are listed while they are few (a reply's envelope); one with
// more is written as any inner object is, and holds no list.
inline constexpr std::size_t kListedMembers = 256;

inline void note_string(TextOutline& outline, std::size_t quoted_size) {
  outline.longest_string = std::max(outline.longest_string, quoted_size);
}
inline void note_object(TextOutline& outline, std::size_t span, std::size_t members) {
  if (span > kHeldSpan) outline.indexed_members += members;
}

inline void list_outer_member(TextOutline& outline, std::string_view key, std::size_t value_start) {
  if (!outline.members_listed) return;
  if (outline.members.size() == kListedMembers) {
    outline.members_listed = false;
    outline.members = {};
    outline.keys = {};
    return;
  }
  outline.members.push_back({outline.keys.size(), key.size(), value_start, value_start});
  outline.keys.append(key);
}

// Reads one value with whitespace around it, as read_value does and with its errors, into
// `outline`.
bool read_outline(Cursor& in, TextOutline& outline);

}  // namespace korvane::json::detail
