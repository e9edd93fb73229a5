// Hex digits to bytes, as the test data and the stand-in app's reply files hold them.
#pragma once

#include <string>
#include <string_view>

#include "common/outcome.h"

namespace korvane {

// The bytes of pairs of hex digits (either case); an error for an odd count or a non-hex digit.
Outcome<std::string> decode_hex(std::string_view hex);

}  // namespace korvane
