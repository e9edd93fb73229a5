// The strict reader's engine: one parser for every kind of output, driven by a builder that
// receives the values it reads (a value tree, or compact text).
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "common/utf8.h"
#include "json/number.h"
#include "json/quote.h"
#include "json/reader.h"

namespace korvane::json::detail {

// Arrays and objects may nest 127 levels: the counter starts here and may not reach zero.
inline constexpr int kDepthBudget = 128;

inline bool is_digit(int c) { return c >= '0' && c <= '9'; }

inline bool is_whitespace(char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r'; }

inline int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

inline void append_utf8(std::string& out, std::uint32_t code_point) {
  if (code_point < 0x80) {
    out += static_cast<char>(code_point);
  } else if (code_point < 0x800) {
    out += static_cast<char>(0xC0 | (code_point >> 6));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  } else if (code_point < 0x10000) {
    out += static_cast<char>(0xE0 | (code_point >> 12));
    out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code_point >> 18));
    out += static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  }
}

template <typename Builder>
class Parser {
 public:
  Parser(std::string_view input, Builder& builder) : in_(input), builder_(&builder) {}

  std::string error_text() const {
    std::string_view before = in_.substr(0, error_index_);
    std::size_t last_newline = before.rfind('\n');
    std::size_t line = 1 + static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
    std::size_t column = last_newline == std::string_view::npos ? error_index_ : error_index_ - last_newline - 1;
    return reason_ + " at line " + std::to_string(line) + " column " + std::to_string(column);
  }

  // Reads one value and hands it to the builder.
  bool parse_value() {
    int c = skip_whitespace();
    if (c < 0) return peek_error("EOF while parsing a value");
    bool ok = false;
    switch (c) {
      case 'n': ok = parse_literal("ull") && (builder_->null_value(), true); break;
      case 't': ok = parse_literal("rue") && (builder_->boolean(true), true); break;
      case 'f': ok = parse_literal("alse") && (builder_->boolean(false), true); break;
      case '-':
      case '0': case '1': case '2': case '3': case '4':
      case '5': case '6': case '7': case '8': case '9': {
        Number number;
        ok = parse_signed_number(number);
        if (ok) builder_->number(number);
        break;
      }
      case '"': {
        ++pos_;
        std::string_view text;
        ok = parse_string(text);
        if (ok) builder_->string(text, string_is_verbatim_);
        break;
      }
      case '[': ok = parse_array(); break;
      case '{': ok = parse_object(); break;
      default: return peek_error("expected value");
    }
    if (!ok) fix_position();
    return ok;
  }

  bool parse_record(const RecordSpec& spec, std::vector<Value>& fields) {
    int c = skip_whitespace();
    if (c < 0) return peek_error("EOF while parsing a value");
    bool ok = false;
    if (c == '[' || c == '{') {
      if (!enter_nesting()) return false;
      ++pos_;
      ok = c == '[' ? visit_record_sequence(spec, fields) : visit_record_map(spec, fields);
      bool closed = c == '[' ? end_sequence() : end_map();
      ok = ok && closed;
      leave_nesting();
    } else {
      ok = peek_invalid_type("struct " + std::string(spec.type_name));
    }
    if (!ok) fix_position();
    return ok;
  }

  // Only whitespace may follow the JSON text.
  bool end() {
    if (skip_whitespace() >= 0) return peek_error("trailing characters");
    return true;
  }

 private:
  // ---- errors: the first one wins ----

  bool fail_at(std::string_view reason, std::size_t index) {
    if (!failed_) {
      failed_ = true;
      positioned_ = true;
      reason_ = reason;
      error_index_ = index;
    }
    return false;
  }
  // At the byte being looked at but not yet consumed.
  bool peek_error(std::string_view reason) { return fail_at(reason, std::min(pos_ + 1, in_.size())); }
  // At the bytes consumed so far.
  bool consumed_error(std::string_view reason) { return fail_at(reason, pos_); }
  // A data error, positioned later where the enclosing value gives up.
  bool data_error(std::string reason) {
    if (!failed_) {
      failed_ = true;
      positioned_ = false;
      reason_ = std::move(reason);
    }
    return false;
  }
  void fix_position() {
    if (failed_ && !positioned_) {
      positioned_ = true;
      error_index_ = pos_;
    }
  }

  // ---- bytes ----

  bool at_end() const { return pos_ >= in_.size(); }
  int peek() const { return at_end() ? -1 : static_cast<unsigned char>(in_[pos_]); }
  int skip_whitespace() {
    while (pos_ < in_.size() && is_whitespace(in_[pos_])) ++pos_;
    return peek();
  }

  bool enter_nesting() {
    if (--depth_budget_ == 0) return peek_error("recursion limit exceeded");
    return true;
  }
  void leave_nesting() { ++depth_budget_; }

  // ---- scalars ----

  bool parse_ident(std::string_view rest) {
    for (char expected : rest) {
      if (at_end()) return consumed_error("EOF while parsing a value");
      if (in_[pos_++] != expected) return consumed_error("expected ident");
    }
    return true;
  }

  bool parse_literal(std::string_view rest) {
    ++pos_;
    return parse_ident(rest);
  }

  bool parse_signed_number(Number& number) {
    std::size_t start = pos_;
    bool positive = in_[pos_] != '-';
    if (!positive) ++pos_;
    return parse_number(start, positive, number);
  }

  bool parse_number(std::size_t start, bool positive, Number& number) {
    if (at_end()) return consumed_error("EOF while parsing a value");
    char first = in_[pos_++];
    std::uint64_t significand = 0;
    bool overflowed = false;
    bool nonzero_digit = false;
    if (first == '0') {
      if (is_digit(peek())) return peek_error("invalid number");
    } else if (first >= '1' && first <= '9') {
      significand = static_cast<std::uint64_t>(first - '0');
      nonzero_digit = true;
      while (is_digit(peek())) {
        auto digit = static_cast<std::uint64_t>(in_[pos_] - '0');
        if (!overflowed && significand > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) {
          overflowed = true;
        } else if (!overflowed) {
          significand = significand * 10 + digit;
        }
        ++pos_;
      }
    } else {
      return consumed_error("invalid number");
    }
    bool is_float = overflowed;
    if (peek() == '.') {
      ++pos_;
      bool any_digit = false;
      while (is_digit(peek())) {
        nonzero_digit = nonzero_digit || in_[pos_] != '0';
        ++pos_;
        any_digit = true;
      }
      if (!any_digit) return peek_error(at_end() ? "EOF while parsing a value" : "invalid number");
      is_float = true;
    }
    if (peek() == 'e' || peek() == 'E') {
      is_float = true;
      bool exponent_overflow = false;
      if (!parse_exponent(nonzero_digit, exponent_overflow)) return false;
      if (exponent_overflow) {
        number.kind = Number::Kind::kFloat;
        number.text = in_.substr(start, pos_ - start);
        number.float_value = positive ? 0.0 : -0.0;
        return true;
      }
    }
    number.text = in_.substr(start, pos_ - start);
    if (!is_float) return classify_integer(positive, significand, number);
    number.kind = Number::Kind::kFloat;
    number.float_value = text_to_double(number.text);
    if (std::isinf(number.float_value)) return consumed_error("number out of range");
    return true;
  }

  // After 'e': an exponent too large for 32 bits is out of range, or zero when it cannot grow.
  bool parse_exponent(bool nonzero_significand, bool& overflow_to_zero) {
    ++pos_;
    bool positive_exponent = true;
    if (peek() == '+') {
      ++pos_;
    } else if (peek() == '-') {
      ++pos_;
      positive_exponent = false;
    }
    if (at_end()) return consumed_error("EOF while parsing a value");
    char first = in_[pos_++];
    if (!is_digit(first)) return consumed_error("invalid number");
    std::int64_t exponent = first - '0';
    while (is_digit(peek())) {
      exponent = exponent * 10 + (in_[pos_++] - '0');
      if (exponent > std::numeric_limits<std::int32_t>::max()) {
        if (nonzero_significand && positive_exponent) return consumed_error("number out of range");
        while (is_digit(peek())) ++pos_;
        overflow_to_zero = true;
        return true;
      }
    }
    return true;
  }

  static bool classify_integer(bool positive, std::uint64_t significand, Number& number) {
    constexpr std::uint64_t kMinSignedMagnitude = std::uint64_t{1} << 63;
    if (positive) {
      number.kind = Number::Kind::kUnsigned;
      number.unsigned_value = significand;
    } else if (significand == 0 || significand > kMinSignedMagnitude) {
      number.kind = Number::Kind::kFloat;
      number.float_value = -static_cast<double>(significand);
    } else {
      number.kind = Number::Kind::kSigned;
      number.signed_value = significand == kMinSignedMagnitude
                                ? std::numeric_limits<std::int64_t>::min()
                                : -static_cast<std::int64_t>(significand);
    }
    return true;
  }

  // ---- strings ----

  // Bytes that end a plain run inside a string: the quote, the backslash, control characters.
  static constexpr std::array<bool, 256> kStopsString = [] {
    std::array<bool, 256> stops{};
    for (int c = 0; c < 0x20; ++c) stops[c] = true;
    stops['"'] = stops['\\'] = true;
    return stops;
  }();

  // Moves to the next quote, backslash or control character; notes whether the bytes passed
  // over were all ASCII (which needs no UTF-8 check).
  void skip_to_escape() {
    const char* data = in_.data();
    std::size_t at = pos_;
    const std::size_t size = in_.size();
    unsigned char high_bits = 0;
    while (at < size && !kStopsString[static_cast<unsigned char>(data[at])]) high_bits |= static_cast<unsigned char>(data[at++]);
    skipped_non_ascii_ = skipped_non_ascii_ || (high_bits & 0x80) != 0;
    pos_ = at;
  }

  // After the opening quote: the decoded text, a view of the input when it holds no escape
  // (else of a scratch buffer, valid until the next string); it must be valid UTF-8.
  bool parse_string(std::string_view& out) {
    std::size_t start = pos_;
    skipped_non_ascii_ = false;
    bool unescaped = false;
    for (;;) {
      skip_to_escape();
      if (at_end()) return consumed_error("EOF while parsing a string");
      char c = in_[pos_];
      if (c == '"') {
        out = in_.substr(start, pos_ - start);
        if (unescaped) out = scratch_.append(out);
        string_is_verbatim_ = !unescaped;
        ++pos_;
        // Escapes only ever add well-formed UTF-8, so ASCII input text needs no check.
        if (skipped_non_ascii_ && !is_valid_utf8(out)) return consumed_error("invalid unicode code point");
        return true;
      }
      if (c == '\\') {
        if (!unescaped) scratch_.clear();
        unescaped = true;
        scratch_.append(in_.substr(start, pos_ - start));
        ++pos_;
        if (!parse_escape(scratch_)) return false;
        start = pos_;
        continue;
      }
      ++pos_;
      return consumed_error("control character (\\u0000-\\u001F) found while parsing a string");
    }
  }

  bool decode_hex_escape(std::uint32_t& code_unit) {
    if (in_.size() - pos_ < 4) {
      pos_ = in_.size();
      return consumed_error("EOF while parsing a string");
    }
    // All four bytes are consumed before they are checked.
    std::string_view digits = in_.substr(pos_, 4);
    pos_ += 4;
    code_unit = 0;
    for (char c : digits) {
      int digit = hex_value(c);
      if (digit < 0) return consumed_error("invalid escape");
      code_unit = code_unit * 16 + static_cast<std::uint32_t>(digit);
    }
    return true;
  }

  bool parse_escape(std::string& out) {
    if (at_end()) return consumed_error("EOF while parsing a string");
    switch (in_[pos_++]) {
      case '"': out += '"'; return true;
      case '\\': out += '\\'; return true;
      case '/': out += '/'; return true;
      case 'b': out += '\b'; return true;
      case 'f': out += '\f'; return true;
      case 'n': out += '\n'; return true;
      case 'r': out += '\r'; return true;
      case 't': out += '\t'; return true;
      case 'u': return parse_unicode_escape(out);
      default: return consumed_error("invalid escape");
    }
  }

  // A leading surrogate must be followed by an escaped trailing one.
  bool parse_unicode_escape(std::string& out) {
    std::uint32_t first = 0;
    if (!decode_hex_escape(first)) return false;
    if (first >= 0xDC00 && first <= 0xDFFF) return consumed_error("lone leading surrogate in hex escape");
    if (first < 0xD800 || first > 0xDBFF) {
      append_utf8(out, first);
      return true;
    }
    for (char expected : {'\\', 'u'}) {
      if (at_end()) return consumed_error("EOF while parsing a string");
      if (in_[pos_] != expected) {
        ++pos_;
        return consumed_error("unexpected end of hex escape");
      }
      ++pos_;
    }
    std::uint32_t second = 0;
    if (!decode_hex_escape(second)) return false;
    if (second < 0xDC00 || second > 0xDFFF) return consumed_error("lone leading surrogate in hex escape");
    append_utf8(out, (((first - 0xD800) << 10) | (second - 0xDC00)) + 0x10000);
    return true;
  }

  // Checks a string's syntax without decoding it or validating UTF-8.
  bool ignore_string() {
    for (;;) {
      skip_to_escape();
      if (at_end()) return consumed_error("EOF while parsing a string");
      char c = in_[pos_];
      if (c == '"') {
        ++pos_;
        return true;
      }
      if (c != '\\') return consumed_error("control character (\\u0000-\\u001F) found while parsing a string");
      ++pos_;
      if (!ignore_escape()) return false;
    }
  }

  bool ignore_escape() {
    if (at_end()) return consumed_error("EOF while parsing a string");
    switch (in_[pos_++]) {
      case '"': case '\\': case '/': case 'b': case 'f': case 'n': case 'r': case 't': return true;
      case 'u': {
        std::uint32_t unused = 0;
        return decode_hex_escape(unused);
      }
      default: return consumed_error("invalid escape");
    }
  }

  // ---- arrays and objects ----

  bool has_next_element(bool& first, bool& more) {
    int c = skip_whitespace();
    if (c < 0) return peek_error("EOF while parsing a list");
    more = true;
    if (c == ']') {
      more = false;
    } else if (first) {
      first = false;
    } else if (c == ',') {
      ++pos_;
      int next = skip_whitespace();
      if (next == ']') return peek_error("trailing comma");
      if (next < 0) return peek_error("EOF while parsing a value");
    } else {
      return peek_error("expected `,` or `]`");
    }
    return true;
  }

  // Reads the next key, or sets has_key to false at the closing brace.
  bool next_key(bool& first, bool& has_key, std::string_view& key) {
    int c = skip_whitespace();
    has_key = false;
    if (c == '}') return true;
    if (c < 0) return peek_error("EOF while parsing an object");
    if (c == ',' && !first) {
      ++pos_;
      c = skip_whitespace();
    } else if (first) {
      first = false;
    } else {
      return peek_error("expected `,` or `}`");
    }
    if (c == '"') {
      ++pos_;
      has_key = true;
      return parse_string(key);
    }
    if (c == '}') return peek_error("trailing comma");
    if (c < 0) return peek_error("EOF while parsing a value");
    return peek_error("key must be a string");
  }

  bool parse_colon() {
    int c = skip_whitespace();
    if (c == ':') {
      ++pos_;
      return true;
    }
    return peek_error(c < 0 ? "EOF while parsing an object" : "expected `:`");
  }

  bool end_sequence() {
    int c = skip_whitespace();
    if (c == ']') {
      ++pos_;
      return true;
    }
    if (c == ',') {
      ++pos_;
      return peek_error(skip_whitespace() == ']' ? "trailing comma" : "trailing characters");
    }
    return peek_error(c < 0 ? "EOF while parsing a list" : "trailing characters");
  }

  bool end_map() {
    int c = skip_whitespace();
    if (c == '}') {
      ++pos_;
      return true;
    }
    if (c == ',') return peek_error("trailing comma");
    return peek_error(c < 0 ? "EOF while parsing an object" : "trailing characters");
  }

  bool parse_array() {
    if (!enter_nesting()) return false;
    ++pos_;
    builder_->begin_array();
    bool ok = true;
    bool first = true;
    for (bool more = true; ok && more;) {
      ok = has_next_element(first, more) && (!more || parse_value());
    }
    bool closed = end_sequence();
    leave_nesting();
    if (ok && closed) builder_->end_array();
    return ok && closed;
  }

  bool parse_object() {
    if (!enter_nesting()) return false;
    ++pos_;
    builder_->begin_object();
    bool ok = true;
    bool first = true;
    for (bool has_key = true; ok && has_key;) {
      std::string_view key;
      ok = next_key(first, has_key, key);
      if (ok && has_key) {
        ok = parse_colon();
        if (ok) builder_->key(key, string_is_verbatim_);
        ok = ok && parse_value();
      }
    }
    bool closed = end_map();
    leave_nesting();
    if (ok && closed) builder_->end_object();
    return ok && closed;
  }

  // Scans one value for well-formedness without building it; iterative, so no depth limit.
  bool ignore_value() {
    std::string open_frames;  // '[' or '{' for every enclosing container
    int enclosing = 0;        // the innermost frame while scanning its next element
    for (;;) {
      int c = skip_whitespace();
      if (c < 0) return peek_error("EOF while parsing a value");
      int frame = 0;
      switch (c) {
        case 'n': ++pos_; if (!parse_ident("ull")) return false; break;
        case 't': ++pos_; if (!parse_ident("rue")) return false; break;
        case 'f': ++pos_; if (!parse_ident("alse")) return false; break;
        case '-': ++pos_; if (!ignore_number()) return false; break;
        case '0': case '1': case '2': case '3': case '4':
        case '5': case '6': case '7': case '8': case '9':
          if (!ignore_number()) return false;
          break;
        case '"': ++pos_; if (!ignore_string()) return false; break;
        case '[':
        case '{':
          if (enclosing != 0) open_frames += static_cast<char>(enclosing);
          enclosing = 0;
          ++pos_;
          frame = c;
          break;
        default: return peek_error("expected value");
      }
      bool accept_comma = false;
      if (frame == 0) {
        if (enclosing != 0) {
          frame = enclosing;
          enclosing = 0;
        } else if (!open_frames.empty()) {
          frame = open_frames.back();
          open_frames.pop_back();
        } else {
          return true;
        }
        accept_comma = true;
      }
      for (;;) {
        int next = skip_whitespace();
        if (next == ',' && accept_comma) {
          ++pos_;
          break;
        }
        bool closes = (next == ']' && frame == '[') || (next == '}' && frame == '{');
        if (next < 0) return peek_error(frame == '[' ? "EOF while parsing a list" : "EOF while parsing an object");
        if (!closes) {
          if (accept_comma) return peek_error(frame == '[' ? "expected `,` or `]`" : "expected `,` or `}`");
          break;
        }
        ++pos_;
        if (open_frames.empty()) return true;
        frame = open_frames.back();
        open_frames.pop_back();
        accept_comma = true;
      }
      if (frame == '{' && !ignore_key_and_colon()) return false;
      enclosing = frame;
    }
  }

  bool ignore_key_and_colon() {
    int c = skip_whitespace();
    if (c != '"') return peek_error(c < 0 ? "EOF while parsing an object" : "key must be a string");
    ++pos_;
    if (!ignore_string()) return false;
    return parse_colon();
  }

  bool ignore_number() {
    char first = at_end() ? '\0' : in_[pos_];
    if (!at_end()) ++pos_;
    if (first == '0') {
      if (is_digit(peek())) return peek_error("invalid number");
    } else if (first >= '1' && first <= '9') {
      while (is_digit(peek())) ++pos_;
    } else {
      return consumed_error("invalid number");
    }
    if (peek() == '.') {
      ++pos_;
      bool any_digit = false;
      while (is_digit(peek())) {
        ++pos_;
        any_digit = true;
      }
      if (!any_digit) return peek_error("invalid number");
    }
    if (peek() == 'e' || peek() == 'E') {
      ++pos_;
      if (peek() == '+' || peek() == '-') ++pos_;
      char digit = at_end() ? '\0' : in_[pos_];
      if (!at_end()) ++pos_;
      if (!is_digit(digit)) return consumed_error("invalid number");
      while (is_digit(peek())) ++pos_;
    }
    return true;
  }

  // ---- records ----

  // Consumes a scalar of the wrong type and records "invalid type: <found>, expected <what>".
  bool peek_invalid_type(const std::string& expected) {
    std::string found;
    switch (peek()) {
      case 'n': ++pos_; if (!parse_ident("ull")) return false; found = "null"; break;
      case 't': ++pos_; if (!parse_ident("rue")) return false; found = "boolean `true`"; break;
      case 'f': ++pos_; if (!parse_ident("alse")) return false; found = "boolean `false`"; break;
      case '-':
      case '0': case '1': case '2': case '3': case '4':
      case '5': case '6': case '7': case '8': case '9': {
        Number number;
        if (!parse_signed_number(number)) return false;
        found = number.describe();
        break;
      }
      case '"': {
        ++pos_;
        std::string_view text;
        if (!parse_string(text)) return false;
        found = "string " + json::quoted(text);
        break;
      }
      case '[': found = "sequence"; break;
      case '{': found = "map"; break;
      default: return peek_error("expected value");
    }
    return data_error("invalid type: " + found + ", expected " + expected);
  }

  bool parse_field(FieldKind kind, Value& out) {
    if (kind == FieldKind::kAny) {
      if (!parse_value()) return false;
      out = builder_->take();
      return true;
    }
    int c = skip_whitespace();
    if (c < 0) return peek_error("EOF while parsing a value");
    bool ok = kind == FieldKind::kString ? parse_string_field(c, out) : parse_u16_field(c, out);
    if (!ok) fix_position();
    return ok;
  }

  bool parse_string_field(int c, Value& out) {
    if (c != '"') return peek_invalid_type("a string");
    ++pos_;
    std::string_view text;
    if (!parse_string(text)) return false;
    out = Value(std::string(text));
    return true;
  }

  bool parse_u16_field(int c, Value& out) {
    if (c != '-' && !is_digit(c)) return peek_invalid_type("u16");
    Number number;
    if (!parse_signed_number(number)) return false;
    if (number.kind == Number::Kind::kFloat) return data_error("invalid type: " + number.describe() + ", expected u16");
    if (number.kind == Number::Kind::kSigned || number.unsigned_value > 0xFFFF) {
      return data_error("invalid value: " + number.describe() + ", expected u16");
    }
    out = Value(number.unsigned_value);
    return true;
  }

  std::string sequence_length_text(const RecordSpec& spec) const {
    return "struct " + std::string(spec.type_name) + " with " + std::to_string(spec.fields.size()) + " elements";
  }

  bool visit_record_sequence(const RecordSpec& spec, std::vector<Value>& fields) {
    bool first = true;
    for (std::size_t i = 0; i < spec.fields.size(); ++i) {
      bool more = false;
      if (!has_next_element(first, more)) return false;
      if (more) {
        if (!parse_field(spec.fields[i].kind, fields[i])) return false;
      } else if (!spec.fields[i].defaults_to_null) {
        return data_error("invalid length " + std::to_string(i) + ", expected " + sequence_length_text(spec));
      }
    }
    return true;
  }

  bool visit_record_map(const RecordSpec& spec, std::vector<Value>& fields) {
    std::vector<bool> seen(spec.fields.size(), false);
    bool first = true;
    for (;;) {
      bool has_key = false;
      std::string_view key;
      if (!next_key(first, has_key, key)) return false;
      if (!has_key) break;
      auto field = std::find_if(spec.fields.begin(), spec.fields.end(),
                                [&](const FieldSpec& f) { return f.name == key; });
      if (field == spec.fields.end()) {
        if (!parse_colon() || !ignore_value()) return false;
        continue;
      }
      auto index = static_cast<std::size_t>(field - spec.fields.begin());
      if (seen[index]) return data_error("duplicate field `" + std::string(field->name) + "`");
      if (!parse_colon() || !parse_field(field->kind, fields[index])) return false;
      seen[index] = true;
    }
    for (std::size_t i = 0; i < spec.fields.size(); ++i) {
      if (!seen[i] && !spec.fields[i].defaults_to_null) {
        return data_error("missing field `" + std::string(spec.fields[i].name) + "`");
      }
    }
    return true;
  }

  std::string_view in_;
  Builder* builder_;
  std::string scratch_;  // decoded text of a string with escapes
  bool string_is_verbatim_ = false;  // the last string held no escape, so it needs none
  bool skipped_non_ascii_ = false;   // the current string's plain runs held a non-ASCII byte
  std::size_t pos_ = 0;
  int depth_budget_ = kDepthBudget;

  bool failed_ = false;
  bool positioned_ = false;
  std::string reason_;
  std::size_t error_index_ = 0;
};


}  // namespace korvane::json::detail
