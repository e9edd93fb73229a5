#include "json/read/reader.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "common/quote.h"
#include "json/read/grammar.h"
#include "json/read/reasons.h"
#include "json/read/skip.h"
#include "json/read/tree_builder.h"

namespace korvane::json {
namespace {

using detail::Cursor;
using detail::StringRead;

// The record is the first level of nesting, so a field may open one level less.
constexpr std::size_t kFieldDepth = detail::kMaxDepth - 1;

// Data errors ("invalid type", "missing field", ...) are positioned where the innermost value
// gives up; the record's closing bracket is consumed even when one of them is already decided.
class RecordReader {
 public:
  RecordReader(Cursor& in, const RecordSpec& spec, std::span<FieldValue> fields)
      : in_(in), spec_(spec), fields_(fields) {}

  bool read() {
    const int c = in_.skip_whitespace();
    if (c < 0) return in_.peek_error(detail::reason::kEofInValue);
    bool ok = false;
    if (c == '[' || c == '{') {
      in_.advance();
      ok = c == '[' ? read_sequence() : read_map();
      const bool closed = c == '[' ? end_sequence() : end_map();
      ok = ok && closed;
    } else {
      ok = invalid_type("struct " + std::string(spec_.type_name));
    }
    if (!ok) in_.fix_position();
    return ok;
  }

 private:
  // Consumes a scalar of the wrong type and records "invalid type: <found>, expected <what>".
  bool invalid_type(const std::string& expected) {
    std::string found;
    switch (in_.peek()) {
      case 'n':
      case 't':
      case 'f':
        if (!name_literal(found)) return false;
        break;
      case '-':
      case '0':
      case '1':
      case '2':
      case '3':
      case '4':
      case '5':
      case '6':
      case '7':
      case '8':
      case '9': {
        Number number;
        if (!detail::read_number<false>(in_, number)) return false;
        found = number.describe();
        break;
      }
      case '"': {
        in_.advance();
        StringRead read;
        detail::DecodedText text(scratch_);
        if (!detail::read_string<false>(in_, read, text)) return false;
        found = "string " + quoted_text(text.text());
        break;
      }
      case '[': found = "sequence"; break;
      case '{': found = "map"; break;
      default: return in_.peek_error(detail::reason::kExpectedValue);
    }
    return in_.data_error(detail::reason::invalid_type(found, expected));
  }

  // Consumes the literal at the cursor (null, true or false), named as "invalid type" texts name it.
  bool name_literal(std::string& found) {
    const char c = in_.take();
    if (!detail::read_ident(in_, c == 'n' ? "ull" : c == 't' ? "rue" : "alse")) return false;
    found = c == 'n' ? "null" : c == 't' ? "boolean `true`" : "boolean `false`";
    return true;
  }

  bool read_field(FieldKind kind, FieldValue& out) {
    if (kind == FieldKind::kAny) {
      detail::TreeBuilder tree;
      if (!detail::read_json(in_, tree, kFieldDepth)) return false;
      out = tree.take();
      return true;
    }
    if (kind == FieldKind::kJsonText) {
      const std::size_t start = (in_.skip_whitespace(), in_.pos());
      if (!detail::check_value(in_, kFieldDepth)) return false;
      out = JsonText{in_.slice(start, in_.pos())};
      return true;
    }
    const int c = in_.skip_whitespace();
    if (c < 0) return in_.peek_error(detail::reason::kEofInValue);
    const bool ok = kind == FieldKind::kString ? read_string_field(c, out) : read_u16_field(c, out);
    if (!ok) in_.fix_position();
    return ok;
  }

  bool read_string_field(int c, FieldValue& out) {
    if (c != '"') return invalid_type("a string");
    in_.advance();
    StringRead read;
    detail::DecodedText text(scratch_);
    if (!detail::read_string<false>(in_, read, text)) return false;
    out = std::string(text.text());
    return true;
  }

  bool read_u16_field(int c, FieldValue& out) {
    if (c != '-' && !detail::is_digit(c)) return invalid_type("u16");
    Number number;
    if (!detail::read_number<false>(in_, number)) return false;
    if (number.kind == Number::Kind::kFloat)
      return in_.data_error(detail::reason::invalid_type(number.describe(), "u16"));
    const std::uint64_t value = number.kind == Number::Kind::kSigned ? 0 : number.unsigned_value();
    if (number.kind == Number::Kind::kSigned || value > 0xFFFF) {
      return in_.data_error(detail::reason::invalid_value(number.describe(), "u16"));
    }
    out = static_cast<std::uint16_t>(value);
    return true;
  }

  // Before an element: false in `more` at the closing bracket.
  bool next_element(bool& first, bool& more) {
    const int c = in_.skip_whitespace();
    if (c < 0) return in_.peek_error(detail::reason::kEofInList);
    more = true;
    if (c == ']') {
      more = false;
    } else if (first) {
      first = false;
    } else if (c == ',') {
      in_.advance();
      const int next = in_.skip_whitespace();
      if (next == ']') return in_.peek_error(detail::reason::kTrailingComma);
      if (next < 0) return in_.peek_error(detail::reason::kEofInValue);
    } else {
      return in_.peek_error(detail::reason::kExpectedListGoesOn);
    }
    return true;
  }

  // The next key, without its colon; false in `has_key` at the closing brace.
  bool next_key(bool& first, bool& has_key, detail::DecodedText& key) {
    int c = in_.skip_whitespace();
    has_key = false;
    if (c == '}') return true;
    if (c < 0) return in_.peek_error(detail::reason::kEofInObject);
    if (c == ',' && !first) {
      in_.advance();
      c = in_.skip_whitespace();
    } else if (first) {
      first = false;
    } else {
      return in_.peek_error(detail::reason::kExpectedObjectGoesOn);
    }
    if (c == '"') {
      in_.advance();
      has_key = true;
      StringRead read;
      return detail::read_string<false>(in_, read, key);
    }
    if (c == '}') return in_.peek_error(detail::reason::kTrailingComma);
    if (c < 0) return in_.peek_error(detail::reason::kEofInValue);
    return in_.peek_error(detail::reason::kKeyMustBeString);
  }

  bool end_sequence() {
    const int c = in_.skip_whitespace();
    if (c == ']') {
      in_.advance();
      return true;
    }
    if (c == ',') {
      in_.advance();
      return in_.peek_error(in_.skip_whitespace() == ']' ? detail::reason::kTrailingComma
                                                         : detail::reason::kTrailingCharacters);
    }
    return in_.peek_error(c < 0 ? detail::reason::kEofInList : detail::reason::kTrailingCharacters);
  }

  bool end_map() {
    const int c = in_.skip_whitespace();
    if (c == '}') {
      in_.advance();
      return true;
    }
    if (c == ',') return in_.peek_error(detail::reason::kTrailingComma);
    return in_.peek_error(c < 0 ? detail::reason::kEofInObject : detail::reason::kTrailingCharacters);
  }

  std::string length_text(std::size_t length) const {
    return detail::reason::invalid_length(length, spec_.type_name, spec_.fields.size());
  }

  bool read_sequence() {
    bool first = true;
    for (std::size_t i = 0; i < spec_.fields.size(); ++i) {
      bool more = false;
      if (!next_element(first, more)) return false;
      if (more) {
        if (!read_field(spec_.fields[i].kind, fields_[i])) return false;
      } else if (!spec_.fields[i].defaults_to_null) {
        return in_.data_error(length_text(i));
      }
    }
    return true;
  }

  bool read_map() {
    std::uint64_t seen = 0;  // a bit per field
    bool first = true;
    for (;;) {
      bool has_key = false;
      detail::DecodedText key(scratch_);
      if (!next_key(first, has_key, key)) return false;
      if (!has_key) break;
      const auto field = std::find_if(spec_.fields.begin(), spec_.fields.end(),
                                      [&](const FieldSpec& f) { return f.name == key.text(); });
      if (field == spec_.fields.end()) {
        if (!detail::read_colon(in_) || !detail::skip_value(in_)) return false;
        continue;
      }
      const auto index = static_cast<std::size_t>(field - spec_.fields.begin());
      if ((seen >> index & 1) != 0) return in_.data_error(detail::reason::duplicate_field(field->name));
      if (!detail::read_colon(in_) || !read_field(field->kind, fields_[index])) return false;
      seen |= std::uint64_t{1} << index;
    }
    for (std::size_t i = 0; i < spec_.fields.size(); ++i) {
      if ((seen >> i & 1) == 0 && !spec_.fields[i].defaults_to_null) {
        return in_.data_error(detail::reason::missing_field(spec_.fields[i].name));
      }
    }
    return true;
  }

  Cursor& in_;
  const RecordSpec& spec_;
  std::span<FieldValue> fields_;
  std::string scratch_;  // decoded text of a string with escapes
};

}  // namespace

Outcome<void> read_record(std::string_view bytes, const RecordSpec& spec, std::span<FieldValue> fields) {
  // One bit per field in a word, and a place for each.
  if (spec.fields.size() > 64 || fields.size() < spec.fields.size())
    return error_text(std::string(detail::reason::kUnusableRecordLayout));
  Cursor in(bytes);
  RecordReader reader(in, spec, fields);
  if (!reader.read()) return error_text(in.error_text());
  if (in.skip_whitespace() >= 0) {
    (void)in.peek_error(detail::reason::kTrailingCharacters);
    return error_text(in.error_text());
  }
  return ok_outcome();
}

}  // namespace korvane::json
