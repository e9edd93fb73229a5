// The relay's first look at a reply: one lean pass that says whether the value reader would
// accept the text and, when it would, notes the same outline as read_outline. It knows no
// error texts: a text it turns down is read again by read_outline, which tells why.
#pragma once

#include <string_view>

#include "json/outline.h"

namespace korvane::json::detail {

// True when read_outline accepts `text`, with `outline` as read_outline notes it.
bool quick_check(std::string_view text, TextOutline& outline);

}  // namespace korvane::json::detail
