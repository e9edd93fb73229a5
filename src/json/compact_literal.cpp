#include "json/compact_literal.h"

#include <algorithm>
#include <new>
#include <vector>

#include "json/cursor.h"
#include "json/escape.h"
#include "json/grammar.h"
#include "json/literal_writer.h"

namespace korvane::json {
namespace {

using detail::Cursor;

// The literal goes out in pieces of about this size.
constexpr std::size_t kPiece = std::size_t{128} << 10;

// A member of the outermost object: its decoded key and where its value lies in the text.
struct OuterMember {
  std::size_t key_start, key_size;  // in Outline's keys
  std::size_t value_start, value_end;
};

// The first read: checks the text as the value reader does, and notes what writing it needs:
// the outermost object's members, and the longest span between two places where no object is
// open but the outermost (the literal is handed on at such places, see LiteralWriter).
class Outline {
 public:
  static constexpr bool kSkipping = false;
  static constexpr bool kOnlyChecking = true;

  explicit Outline(const Cursor& in) : in_(in) {}

  void null_value() { scalar(); }
  void boolean(bool) { scalar(); }
  void number(const Number&) { scalar(); }
  detail::NoText& value_text() {
    value_starts();
    return nothing_;
  }
  void string(const detail::StringRead&) { value_ends(); }
  void begin_array() { opening(false); }
  void end_array() { closing(false); }
  void begin_object() { opening(true); }
  detail::DecodedText& key_text() {
    key_text_ = detail::DecodedText(scratch_);
    return key_text_;
  }
  void key(const detail::StringRead&) {
    if (!outer_object_ || depth_ != 1) {
      ++open_counts_.back();
      most_members_ = std::max(most_members_, ++open_members_);
      return;
    }
    const std::string_view key = key_text_.text();
    members_.push_back({keys_.size(), key.size(), in_.pos(), in_.pos()});
    keys_.append(key);
    mark();
  }
  void end_object() { closing(true); }

  // After the whole text is read.
  std::size_t longest_span() {
    mark();
    return longest_;
  }
  // Most members of objects open at once, the outermost object's not counted.
  std::size_t most_members() const { return most_members_; }
  bool outer_object() const { return outer_object_; }
  std::vector<OuterMember>& members() { return members_; }
  std::string_view key_of(const OuterMember& member) const {
    return std::string_view(keys_).substr(member.key_start, member.key_size);
  }

 private:
  void scalar() {
    value_starts();
    value_ends();
  }
  void value_starts() {
    if (objects_open_ == 0) mark();
  }
  void value_ends() {
    if (outer_object_ && depth_ == 1) members_.back().value_end = in_.pos();
  }
  void opening(bool object) {
    value_starts();
    if (object && depth_ == 0) {
      outer_object_ = true;
    } else if (object) {
      ++objects_open_;
      open_counts_.push_back(0);
    }
    ++depth_;
  }
  void closing(bool object) {
    --depth_;
    if (object && !(outer_object_ && depth_ == 0)) {
      --objects_open_;
      open_members_ -= open_counts_.back();
      open_counts_.pop_back();
    }
    value_ends();
  }
  void mark() {
    longest_ = std::max(longest_, in_.pos() - last_mark_);
    last_mark_ = in_.pos();
  }

  const Cursor& in_;
  std::size_t depth_ = 0, objects_open_ = 0;
  bool outer_object_ = false;
  std::size_t last_mark_ = 0, longest_ = 0;
  std::vector<std::size_t> open_counts_;  // members so far of each open object but the outermost
  std::size_t open_members_ = 0, most_members_ = 0;
  std::vector<OuterMember> members_;
  std::string keys_;
  std::string scratch_;
  detail::DecodedText key_text_{scratch_};
  detail::NoText nothing_;
};

// The outermost object's members in key order, the last of repeated keys only.
void order_outer_members(const Outline& outline, std::vector<OuterMember>& members) {
  std::stable_sort(members.begin(), members.end(),
                   [&](const OuterMember& a, const OuterMember& b) { return outline.key_of(a) < outline.key_of(b); });
  std::size_t kept = 0;
  for (std::size_t k = 0; k < members.size(); ++k) {
    if (k + 1 < members.size() && outline.key_of(members[k]) == outline.key_of(members[k + 1])) continue;
    members[kept++] = members[k];
  }
  members.resize(kept);
}

class BufferSink final : public PieceSink {
 public:
  explicit BufferSink(std::string& out) : out_(out) {}
  bool put(std::string_view piece) override {
    out_.append(piece);
    return true;
  }

 private:
  std::string& out_;
};

}  // namespace

struct CompactLiteral::State {
  ByteBuffer text;
  std::size_t from = 0;
  bool outer_object = false;
  std::vector<OuterMember> members;  // of the outermost object, in key order
  std::string keys;                  // their decoded keys, escaped twice as the literal has them
  std::vector<std::size_t> key_ends;
  ByteBuffer out;
  detail::LiteralWriter writer{out};
};

Outcome<CompactLiteral> CompactLiteral::read(ByteBuffer& text, std::size_t from, bool valid_utf8) {
  const std::string_view source = text.view().substr(from);
  Cursor in(source);
  if (valid_utf8) in.assume_valid_utf8();
  Outline outline(in);
  if (!detail::read_whole(in, outline)) return error_text(in.error_text());

  auto state = std::make_unique<State>();
  state->outer_object = outline.outer_object();
  if (state->outer_object) {
    order_outer_members(outline, outline.members());
    for (const OuterMember& member : outline.members()) {
      append_escaped(state->keys, outline.key_of(member), true);
      state->key_ends.push_back(state->keys.size());
    }
    state->members = std::move(outline.members());
  }
  state->writer.reserve_for(outline.longest_span(), kPiece, outline.most_members());
  state->text = std::move(text);
  state->from = from;
  return CompactLiteral(std::move(state));
}

CompactLiteral::CompactLiteral(std::unique_ptr<State> state) : state_(std::move(state)) {}
CompactLiteral::CompactLiteral(CompactLiteral&&) noexcept = default;
CompactLiteral& CompactLiteral::operator=(CompactLiteral&&) noexcept = default;
CompactLiteral::~CompactLiteral() = default;

std::string_view CompactLiteral::source() const { return state_->text.view().substr(state_->from); }

bool CompactLiteral::write(PieceSink& sink) const {
  State& state = *state_;
  const std::string_view source = this->source();
  ByteBuffer& out = state.out;
  detail::LiteralWriter& writer = state.writer;
  out.truncate(0);
  writer.drain_to(sink, kPiece);
  try {
    out.push_back('"');
    if (!state.outer_object) {
      writer.write(source);
    } else {
      out.push_back('{');
      std::size_t key_start = 0;
      for (std::size_t k = 0; k < state.members.size(); ++k) {
        const OuterMember& member = state.members[k];
        out.append(k == 0 ? "\\\"" : ",\\\"");
        out.append(std::string_view(state.keys).substr(key_start, state.key_ends[k] - key_start));
        out.append("\\\":");
        key_start = state.key_ends[k];
        writer.write(source.substr(member.value_start, member.value_end - member.value_start));
      }
      out.push_back('}');
    }
    out.push_back('"');
  } catch (const std::bad_alloc&) {
    return false;
  }
  return writer.drain();
}

std::string CompactLiteral::text() const {
  std::string literal;
  BufferSink sink(literal);
  if (!write(sink)) throw std::bad_alloc();
  return literal;
}

}  // namespace korvane::json
