// Reading any bytes as one JSON value: errors are positioned inside the input, and what reads
// writes back to text that reads to the same value and writes to the same bytes again. The
// relay's reader, which writes compact text without building the value, agrees with it, and its
// quick check agrees with the exact reading it stands in for.
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/byte_buffer.h"
#include "fuzz_check.h"
#include "json/read/cursor.h"
#include "json/read/reader.h"
#include "json/relay/compact_literal.h"
#include "json/relay/outline.h"
#include "json/relay/quick_check.h"
#include "json/write/writer.h"

namespace korvane::fuzz {
namespace {

// Inputs the JSON library reads differently on purpose: it skips a leading byte order mark,
// which the reader rejects, and takes a NUL byte outside a string for the end of the input.
bool library_reads_all(std::string_view input) {
  return !input.starts_with("\xEF\xBB\xBF") && input.find('\0') == std::string_view::npos;
}

// A text the reader accepts is JSON, so the JSON library's own parser reads the same value.
void check_against_library(std::string_view input, const json::Value& value) {
  if (!library_reads_all(input)) return;
  const auto reference = json::Value::parse(input.begin(), input.end(), nullptr, false);
  FUZZ_CHECK(!reference.is_discarded(), "accepted text the JSON library rejects");
  FUZZ_CHECK(reference == value, json::to_json(value) + " vs library " + reference.dump());
}

void check_rejected(std::string_view input, const std::string& error) {
  const std::string_view reason = checked_reason(input, error);
  FUZZ_CHECK(is_syntax_reason(reason), error);
  if (reason == "recursion limit exceeded" || !library_reads_all(input)) return;
  const auto reference = json::Value::parse(input.begin(), input.end(), nullptr, false);
  FUZZ_CHECK(reference.is_discarded(), "rejected (" + error + ") text the JSON library reads as " + reference.dump());
}

void check_round_trip(const json::Value& value) {
  FUZZ_CHECK(nesting_depth(value) <= 127, "nesting deeper than 127 levels was accepted");
  const std::string text = json::to_json(value);
  FUZZ_CHECK(is_well_formed_utf8(text), text);
  auto again = json::read_value(text);
  FUZZ_CHECK(again.ok(), "written text does not read back: " + (again.ok() ? std::string() : again.error()));
  FUZZ_CHECK(same_value(again.value(), value), text + " reads back as " + json::to_json(again.value()));
  FUZZ_CHECK(json::to_json(again.value()) == text, text);
}

// The relay's reader gives what writing the value gives, as a string literal, and fails alike.
void check_compact_literal(std::string_view input, const Outcome<json::Value>& value) {
  auto literal = json::read_compact_literal(input);
  FUZZ_CHECK(literal.ok() == value.ok(), std::string(input));
  if (!value.ok()) {
    FUZZ_CHECK(literal.error() == value.error(), literal.error() + " instead of " + value.error());
    return;
  }
  const std::string text = literal.value().text();
  const auto unquoted = json::Value::parse(text.begin(), text.end(), nullptr, false);
  FUZZ_CHECK(unquoted.is_string(), text);
  FUZZ_CHECK(unquoted.get<std::string>() == json::to_json(value.value()), text);
}

// The quick check accepts exactly what the exact reading accepts, and outlines it alike.
void check_quick_check(std::string_view input, const Outcome<json::Value>& value) {
  json::detail::TextOutline quick, exact;
  json::detail::Cursor in(input);
  const bool accepted = json::detail::read_outline(in, exact);
  FUZZ_CHECK(accepted == value.ok(), std::string(input));
  FUZZ_CHECK(json::detail::quick_check(input, quick) == accepted,
             std::string(accepted ? "quick check rejects " : "quick check accepts ") + std::string(input));
  if (!accepted) return;
  FUZZ_CHECK(quick.outer_object == exact.outer_object && quick.members == exact.members && quick.keys == exact.keys,
             "outermost members differ: " + std::string(input));
  FUZZ_CHECK(quick.longest_span == exact.longest_span,
             std::to_string(quick.longest_span) + " vs " + std::to_string(exact.longest_span));
  FUZZ_CHECK(quick.most_members == exact.most_members,
             std::to_string(quick.most_members) + " vs " + std::to_string(exact.most_members));
  FUZZ_CHECK(quick.longest_string == exact.longest_string && quick.indexed_members == exact.indexed_members,
             "write needs differ: " + std::string(input));
}

// Read in parts as it arrives, cut every few bytes and stopping at nearly every value, the text
// gets the quick check's verdict and outline. The input's first byte picks the cuts.
void check_parts(std::string_view input) {
  if (input.empty()) return;
  const std::size_t step = 1 + static_cast<unsigned char>(input.front()) % 7;
  const std::size_t sure_before = 4 + static_cast<unsigned char>(input.front()) / 8;
  json::detail::TextOutline whole, parts;
  const bool accepted = json::detail::quick_check(input, whole);
  ByteBuffer buffer;
  buffer.reserve(input.size() + 1);
  json::GrowingCheck check(sure_before);
  for (std::size_t size = step; size < input.size(); size += step) {
    buffer.append(input.substr(size - step, step));
    check.grew(buffer, 0);
  }
  buffer.append(input.substr(buffer.size()));
  FUZZ_CHECK(check.finish(buffer.view(), parts, false) == accepted,
             std::string(accepted ? "parts turn down " : "parts accept ") + std::string(input));
  FUZZ_CHECK(!accepted || parts == whole, "outline in parts differs: " + std::string(input));
}

}  // namespace
}  // namespace korvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace korvane;
  const std::string_view input = fuzz::as_text(data, size);
  auto value = json::read_value(input);
  fuzz::check_compact_literal(input, value);
  fuzz::check_quick_check(input, value);
  fuzz::check_parts(input);
  if (!value) {
    fuzz::check_rejected(input, value.error());
    return 0;
  }
  fuzz::check_round_trip(value.value());
  fuzz::check_against_library(input, value.value());
  return 0;
}
