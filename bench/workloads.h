// The request lines and app reply bodies that the benchmark sends.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace korvane::bench {

inline constexpr std::size_t kMiB = std::size_t{1} << 20;

std::string initialize_line(std::uint64_t id);
std::string tools_list_line(std::uint64_t id);
std::string screen_ocr_line(std::uint64_t id);

// A type_text call split so that one large text can be shared by many lines:
// large_call_head(id) + large_call_text(n) + kLargeCallTail.
std::string large_call_head(std::uint64_t id);
std::string large_call_text(std::size_t approximate_bytes);  // escaped JSON string content
inline constexpr std::string_view kLargeCallTail = "\"}}}\n";

// A screen_ocr reply of at least `target_bytes`: image metadata and a `lines` array of text boxes.
std::string ocr_reply_body(std::size_t target_bytes);

// The screen_ocr reply of the whole-process relay, about 20 MB: {"image","width","height","scale",
// "lines"} with `lines` text boxes {"text","conf","x","y","w","h"} (keys in that order, unsorted);
// texts of 3 to 40 characters from ASCII letters, spaces, CJK characters, an em dash, quotes and
// backslashes; confidences with at most 4 decimals; integer coordinates.
std::string screen_ocr_reply(std::size_t lines = 200'000);

// Replies of other shapes, each of about `target_bytes`, for the relay's shapes table:
// - escapes: the OCR reply's form with texts full of \", \\, \n, \t, \u00e9, é, CJK and dashes;
// - nested: {"content":[...],"data":{...}} whose bulk is the one object `data`, its members small
//   objects under keys out of order (as an app's hash map writes them), of about `member_bytes`;
// - flat: one object of scalar members of about `member_bytes` each;
// - lines: {"content":[...],"lines":[...]}, an array of lines of text.
std::string escape_heavy_reply(std::size_t target_bytes);
std::string nested_object_reply(std::size_t target_bytes, std::size_t member_bytes);
std::string flat_object_reply(std::size_t target_bytes, std::size_t member_bytes);
std::string lines_reply(std::size_t target_bytes);

}  // namespace korvane::bench
