// The relay's first look at a reply: one lean pass that says whether the value reader would
// accept the text and, when it would, notes the same outline as read_outline. It knows no
// error texts: a text it turns down is read again by read_outline, which tells why.
#pragma once

#include <cstddef>
#include <string_view>

#include "json/relay/outline.h"

namespace korvane::json::detail {

// True when read_outline accepts `text`, with `outline` as read_outline notes it. `valid_utf8`:
// the text is known to be well-formed UTF-8.
bool quick_check(std::string_view text, TextOutline& outline, bool valid_utf8 = false);

}  // namespace korvane::json::detail
