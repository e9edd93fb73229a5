#include "json/relay/compact_literal.h"

#include <algorithm>
#include <new>
#include <vector>

#include "json/read/cursor.h"
#include "json/relay/literal_writer.h"
#include "json/relay/member_order.h"
#include "json/relay/outline.h"
#include "json/relay/quick_check.h"
#include "json/write/escape.h"

namespace korvane::json {
namespace {

using detail::Cursor;
using detail::OuterMember;
using detail::TextOutline;

// The literal goes out in pieces of about this size.
constexpr std::size_t kPiece = std::size_t{64} << 10;

// The outermost object's members in key order, the last of repeated keys only.
void order_outer_members(const TextOutline& outline, std::vector<OuterMember>& members) {
  const auto before = [&](const OuterMember& a, const OuterMember& b) {
    const int by_key = outline.key_of(a).compare(outline.key_of(b));
    return by_key != 0 ? by_key < 0 : a.value_start < b.value_start;
  };
  const auto same_key = [&](const OuterMember& a, const OuterMember& b) {
    return outline.key_of(a) == outline.key_of(b);
  };
  members.erase(detail::order_by_key(members.begin(), members.end(), before, same_key), members.end());
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
  explicit State(PaddedText source) : padded(source) {}
  ByteBuffer text;
  PaddedText padded;  // text[from..]: its bytes stay where they are when text moves in
  bool outer_object = false;
  std::vector<OuterMember> members;  // of the outermost object, in key order
  std::string keys;                  // their decoded keys, escaped twice as the literal has them
  std::vector<std::size_t> key_ends;
  ByteBuffer out;
  detail::LiteralWriter writer{out};
};

Outcome<CompactLiteral> CompactLiteral::read(ByteBuffer& text, std::size_t from, bool valid_utf8, GrowingCheck* parts) {
  const std::string_view source = text.view().substr(from);
  TextOutline outline;
  const bool quick =
      parts != nullptr ? parts->finish(source, outline, valid_utf8) : detail::quick_check(source, outline, valid_utf8);
  if (!quick) {
    outline = TextOutline();
    // The exact reading tells why; should it accept after all, its outline is the one used.
    Cursor in(source);
    if (valid_utf8) in.assume_valid_utf8();
    if (!detail::read_outline(in, outline)) return error_text(in.error_text());
  }

  // Read, never written, by the writer's short copies.
  const PaddedText padded = PaddedText::pad(text, from);
  auto state = std::make_unique<State>(padded);
  state->outer_object = outline.outer_object && outline.members_listed;
  if (state->outer_object) {
    order_outer_members(outline, outline.members);
    for (const OuterMember& member : outline.members) {
      append_escaped(state->keys, outline.key_of(member), true);
      state->key_ends.push_back(state->keys.size());
    }
    state->members = std::move(outline.members);
  }
  state->writer.reserve_for(outline, kPiece);
  state->text = std::move(text);
  return CompactLiteral(std::move(state));
}

CompactLiteral::CompactLiteral(std::unique_ptr<State> state) : state_(std::move(state)) {}
CompactLiteral::CompactLiteral(CompactLiteral&&) noexcept = default;
CompactLiteral& CompactLiteral::operator=(CompactLiteral&&) noexcept = default;
CompactLiteral::~CompactLiteral() = default;

std::string_view CompactLiteral::source() const { return state_->padded.view(); }

bool CompactLiteral::write(PieceSink& sink) const {
  State& state = *state_;
  const PaddedText& source = state.padded;
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
        writer.write(source.part(member.value_start, member.value_end));
      }
      out.push_back('}');
    }
    out.push_back('"');
  } catch (const std::bad_alloc&) {
    return false;
  }
  return writer.drain();
}

Outcome<CompactLiteral> read_compact_literal(std::string_view bytes) {
  ByteBuffer text;
  text.append(bytes);
  return CompactLiteral::read(text, 0);
}

std::string CompactLiteral::text() const {
  std::string literal;
  BufferSink sink(literal);
  if (!write(sink)) throw std::bad_alloc();
  return literal;
}

}  // namespace korvane::json
