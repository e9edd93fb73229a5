#include "json/relay/outline.h"

#include <algorithm>

#include "json/read/grammar.h"

namespace korvane::json::detail {
namespace {

// The grammar's builder that notes the outline as the value reader's checks run.
class Outline {
 public:
  static constexpr bool kSkipping = false;
  static constexpr bool kOnlyChecking = true;

  Outline(const Cursor& in, TextOutline& out) : in_(in), out_(out) {}

  void null_value() { scalar(); }
  void boolean(bool) { scalar(); }
  void number(const Number&) { scalar(); }
  NoText& value_text() {
    value_starts();
    return nothing_;
  }
  void string(const StringRead& text) {
    note_string(out_, text.raw.size() + 2);
    value_ends();
  }
  void begin_array() { opening(false); }
  void end_array() { closing(false); }
  void begin_object() { opening(true); }
  DecodedText& key_text() {
    key_text_ = DecodedText(scratch_);
    return key_text_;
  }
  void key(const StringRead& key) {
    note_string(out_, key.raw.size() + 2);
    ++objects_.back().members;
    if (!out_.outer_object || depth_ != 1) {
      ++open_counts_.back();
      out_.most_members = std::max(out_.most_members, ++open_members_);
      return;
    }
    list_outer_member(out_, key_text_.text(), in_.pos());
    mark();
  }
  void end_object() { closing(true); }

  // After the whole text is read.
  void finish() { mark(); }

 private:
  void scalar() {
    value_starts();
    value_ends();
  }
  void value_starts() {
    if (objects_open_ == 0) mark();
  }
  void value_ends() {
    if (out_.outer_object && depth_ == 1 && out_.members_listed) out_.members.back().value_end = in_.pos();
  }
  void opening(bool object) {
    value_starts();
    if (object) objects_.push_back({brace_before(), 0});
    if (object && depth_ == 0) {
      out_.outer_object = true;
    } else if (object) {
      ++objects_open_;
      open_counts_.push_back(0);
    }
    ++depth_;
  }
  void closing(bool object) {
    --depth_;
    if (object) {
      note_object(out_, in_.pos() - 1 - objects_.back().at, objects_.back().members);  // from '{' to '}'
      objects_.pop_back();
    }
    if (object && !(out_.outer_object && depth_ == 0)) {
      --objects_open_;
      open_members_ -= open_counts_.back();
      open_counts_.pop_back();
    }
    value_ends();
  }
  // Where the '{' just read is: the whitespace after it was passed over too.
  std::size_t brace_before() const {
    std::size_t at = in_.pos() - 1;
    while (in_.data()[at] != '{') --at;
    return at;
  }
  void mark() {
    out_.longest_span = std::max(out_.longest_span, in_.pos() - last_mark_);
    last_mark_ = in_.pos();
  }

  const Cursor& in_;
  TextOutline& out_;
  std::size_t depth_ = 0, objects_open_ = 0;
  std::size_t last_mark_ = 0;
  struct OpenObject {
    std::size_t at, members;
  };
  std::vector<OpenObject> objects_;       // every open object, the outermost too
  std::vector<std::size_t> open_counts_;  // members so far of each open object but the outermost
  std::size_t open_members_ = 0;
  std::string scratch_;
  DecodedText key_text_{scratch_};
  NoText nothing_;
};

}  // namespace

bool read_outline(Cursor& in, TextOutline& outline) {
  outline = TextOutline();
  Outline builder(in, outline);
  if (!read_whole(in, builder)) return false;
  builder.finish();
  return true;
}

}  // namespace korvane::json::detail
