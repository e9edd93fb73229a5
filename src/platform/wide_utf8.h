// The UTF-8 check of long texts thirty-two bytes at a time, on x86-64 CPUs that have AVX2: the
// build compiles it where its compiler can build AVX2 code for a function alone, and whether the
// CPU has AVX2 is asked when the program runs, so the same binary runs on CPUs without it.
#pragma once

#include <cstddef>

namespace korvane::platform {

// Whether wide_utf8_valid can be used here.
bool has_wide_utf8_check();

// Whether the bytes are well-formed UTF-8 (as is_valid_utf8 says); only where
// has_wide_utf8_check().
bool wide_utf8_valid(const char* data, std::size_t size);

}  // namespace korvane::platform
