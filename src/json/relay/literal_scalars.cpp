#include "json/relay/literal_scalars.h"

#include <algorithm>
#include <bit>
#include <cstdint>

#include "common/byte_vector.h"
#include "common/utf8.h"
#include "json/read/cursor.h"
#include "json/write/escape.h"
#include "json/write/writer.h"
#include "platform/float_chars.h"

namespace korvane::json::detail {
namespace {

// A sink that writes a string's text as the compact text has it, escaped once more for the
// literal: plain runs as they are, each escape as what writing its character gives.
class LiteralText {
 public:
  explicit LiteralText(ByteBuffer& out) : out_(out) {}
  void run(std::string_view bytes, bool) { out_.append(bytes); }
  void character(char c) {
    if (is_special(c)) return append_escape(out_, c, true);
    out_.push_back(c);
  }
  void code_point(char32_t c) {
    if (c < 0x80) return character(static_cast<char>(c));
    append_utf8(out_, c);
  }

 private:
  ByteBuffer& out_;
};

}  // namespace

namespace literal_scalars {

// Each escape's backslash and character, and so each quote and backslash of the text, get a
// backslash before them.
#if defined(KORVANE_BYTE_VECTOR)
// Sixteen bytes at a time (the 16 past the text can be read): a block is copied whole, or in
// runs up to each quote and backslash in it.
char* put_short_escapes(char* at, const ScalarText& value) {
  using namespace vec;
  std::memcpy(at, kLiteralQuote.data(), kLiteralQuote.size());
  at += kLiteralQuote.size();
  const char* const end = value.text + value.size;
  for (const char* p = value.text; p < end;) {
    const auto size = std::min<std::size_t>(16, static_cast<std::size_t>(end - p));
    const Bytes bytes = load(p);
    const std::uint64_t in_text = ~std::uint64_t{0} >> (64 - size * kLaneBitStride);
    std::uint64_t escaped = lane_bits(either(equal(bytes, splat('"')), equal(bytes, splat('\\')))) & in_text;
    std::size_t copied = 0;
    for (; escaped != 0; escaped &= escaped - 1) {
      const auto lane = static_cast<std::size_t>(std::countr_zero(escaped) / kLaneBitStride);
      std::memcpy(at, p + copied, 16);  // the run up to the lane, and more the next write covers
      at += lane - copied;
      at[0] = '\\';
      at[1] = p[lane];
      at += 2;
      copied = lane + 1;
    }
    std::memcpy(at, p + copied, 16);
    at += size - copied;
    p += size;
  }
  std::memcpy(at, kLiteralQuote.data(), kLiteralQuote.size());
  return at + kLiteralQuote.size();
}
#else
char* put_short_escapes(char* at, const ScalarText& value) {
  std::memcpy(at, kLiteralQuote.data(), kLiteralQuote.size());
  at += kLiteralQuote.size();
  const char* p = value.text;
  const char* const end = p + value.size;
  for (;;) {
    const std::size_t run = find_special(p, static_cast<std::size_t>(end - p));
    copy_short(at, p, run);  // at most doubled so far: the slack holds the rest
    at += run;
    p += run;
    if (p == end) break;
    at[0] = '\\';
    at[1] = *p++;
    at += 2;
  }
  std::memcpy(at, kLiteralQuote.data(), kLiteralQuote.size());
  return at + kLiteralQuote.size();
}
#endif

char* put_rewritten_number(char* at, const ScalarText& value, std::string& scratch) {
  const std::string_view text(value.text, value.size);
  scratch.clear();
  if (!append_number_text_shortest(scratch, text)) append_double(scratch, platform::chars_to_double(text));
  const std::size_t size = std::min(scratch.size(), written_size(value));
  copy_bytes(at, scratch.data(), size);
  return at + size;
}

}  // namespace literal_scalars

void append_decoded_string(ByteBuffer& out, const ScalarText& value) {
  out.append(kLiteralQuote);
  Cursor in(std::string_view(value.text, value.size + 1));  // with its closing quote
  in.assume_valid_utf8();
  StringRead read;
  LiteralText text(out);
  (void)read_string<false>(in, read, text);
  out.append(kLiteralQuote);
}

}  // namespace korvane::json::detail
