// Writes the compact text of a JSON value as the content of a JSON string literal, without
// building the value: what writing the value tree and then quoting that text as a JSON string
// would give (keys in ascending byte order, the last of repeated keys). The value has been read
// and checked whole before (see CompactLiteral), so nothing here looks for errors.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/byte_buffer.h"
#include "common/large_block_allocator.h"
#include "json/relay/compact_literal.h"
#include "json/relay/literal_scalars.h"
#include "json/relay/outline.h"
#include "json/shared/known_key.h"
#include "json/shared/padded_text.h"

namespace korvane::json::detail {

// The writer reads up to kSlack bytes past a token of its input, and a string block past a
// string's start.
static_assert(kSlack <= kPadding && kStringBlockBytes <= kPadding);

class LiteralWriter {
 public:
  explicit LiteralWriter(ByteBuffer& out) : out_(out) {}

  // Hands what is written to `sink` whenever `piece` bytes are held at a place where no object
  // is open (nothing written there is moved again); the buffer starts over after each piece.
  void drain_to(PieceSink& sink, std::size_t piece) {
    sink_ = &sink;
    piece_ = piece;
    stopped_ = false;
  }
  // Hands on what is held; false when the sink has stopped the writing.
  bool drain();
  // Takes up front all the memory that writing a text of this outline needs, handed on in
  // pieces of `piece` bytes; throws std::bad_alloc.
  void reserve_for(const TextOutline& outline, std::size_t piece);

  // Writes the value at the start of `text` (whitespace before it is passed over).
  void write(PaddedText text);

 private:
  using Kind = WrittenAs;
  using Scalar = ScalarText;
  struct Member {
    std::string_view key;                // as written between its quotes
    std::uint32_t decoded_start = kRaw;  // where the decoded key starts in decoded_keys_
    std::uint32_t decoded_size = 0;
    Scalar value{};
    std::size_t written_at = 0;  // a container written: where, from the start of the object's part
  };
  static constexpr std::uint32_t kRaw = ~std::uint32_t{0};  // a key without escapes
  struct Frame {
    bool is_object;
    bool first = true;       // no element written yet (arrays)
    bool wrote = false;      // a member's container was written into the object's part
    bool same_shape = true;  // keys so far are those of the last object at this depth
    std::uint32_t first_member = 0;
    std::uint32_t first_decoded = 0;
    std::size_t part = 0;  // where the object's part of the output starts, after its '{'
  };
  // The keys of the last object ordered at one depth and their order, with the text each
  // ordered member starts with: records in a row mostly have the same keys in the same order.
  static constexpr std::size_t kShapeKeys = 16, kShapeText = 512;
  static constexpr std::size_t kShapeDepths = 8;  // objects this deep and less remember theirs
  struct Shape {
    std::uint32_t count = 0;  // 0: nothing remembered
    std::uint32_t kept = 0;
    std::array<KnownKey, kShapeKeys> keys;    // in the order of the text
    std::array<KnownLead, kShapeKeys> leads;  // the same keys with the comma before and colon after
    std::array<std::uint8_t, kShapeKeys> order;
    std::array<std::uint16_t, kShapeKeys + 1> starts;  // of each member's `,\"key\":` in text
    std::array<char, kShapeText + kSlack> text;        // the slack: read by short copies
  };

  void put(const Scalar& value);
  void put_member(std::string_view lead, const Member& member, const char* written);
  void put_key(const Member& member, bool first);

  // A member of an object written in key order: where its key starts, from the object's '{'
  // (kDecodeKey set when the key holds escapes), and four bytes of its key (see
  // plain_key_order.h), to compare most keys without reading them.
  struct Keyed {
    std::uint32_t at;
    std::uint32_t chunk;
  };
  static constexpr std::uint32_t kDecodeKey = std::uint32_t{1} << 31;
  // A record longer than this is written member by member: at most this is written at once.
  static constexpr std::size_t kLongestRecord = 4096;

  const char* write_value(const char* p, const char* end);
  bool holds_too_much(const char* p) const {
    return objects_open_ > 0 && static_cast<std::size_t>(p - held_open_) > held_span_;
  }
  const char* write_held_in_key_order(const char* end);
  const char* write_in_key_order(const char* open, const char* end);
  // What indexing found of an object's keys: whether all are plain, and the bytes they all start with.
  struct IndexedKeys {
    bool all_plain = true;
    const char* first_plain = nullptr;  // the first plain key
    std::size_t common = 0;             // how many bytes of it every plain key starts with
  };
  const char* index_members(const char* open, const char* end, IndexedKeys& keys);
  void index_member(const char* open, const char* key, const char* end, IndexedKeys& keys);
  void note_key(const char* open, const char* key, std::size_t size, bool plain, IndexedKeys& keys);
  void order_keyed(const char* open, const char* end, std::size_t first, const IndexedKeys& keys);
  std::string_view keyed_key(const char* open, const char* end, const Keyed& member, std::string& decoded);
  const char* put_keyed_key(const char* open, const char* end, const Keyed& member, bool first);

  void before_element();
  const char* open(const char* p, const char* end, bool& value_follows);
  void close();
  bool write_record(const char*& at, const char* end, const Shape& shape);
  const char* write_records_in_row(const char* p, const char* end, const Shape& shape);
  const char* key(const char* p, const char* end);
  const char* read_key(const char* p, const char* end, Member& member);
  void write_object(const Frame& object, std::size_t depth);
  bool order_members(const Frame& object, Shape* shape);
  bool remember(const Member* members, std::size_t count, Shape& shape);
  std::string_view key_of(const Member& member) const {
    if (member.decoded_start == kRaw) return member.key;
    return std::string_view(decoded_keys_).substr(member.decoded_start, member.decoded_size);
  }

  ByteBuffer& out_;
  std::vector<Frame> frames_;
  std::vector<Member> members_;  // of every open object, innermost last
  std::string decoded_keys_;     // the decoded keys of members whose keys held escapes
  std::string key_scratch_;
  std::vector<std::uint32_t> order_;  // of an object ordered without a shape
  std::vector<Shape> shapes_;         // by depth
  std::string set_aside_;             // an object's written containers while it is ordered
  std::string number_;                // a number rewritten
  std::size_t objects_open_ = 0;
  std::size_t base_ = 0;  // frames below this one are those of a value around the one written
  // The outermost object open: its '{' in the input, its frame, and where its output starts.
  const char* held_open_ = nullptr;
  std::size_t held_frame_ = 0;
  std::size_t held_out_ = 0;
  std::size_t held_span_ = kHeldSpan;                     // no more for texts beyond the index's reach
  std::vector<Keyed, LargeBlockAllocator<Keyed>> keyed_;  // of objects written in key order, innermost last
  std::string left_key_, right_key_;                      // keys with escapes, decoded to be compared
  PieceSink* sink_ = nullptr;
  std::size_t piece_ = static_cast<std::size_t>(-1);
  bool stopped_ = false;
};

}  // namespace korvane::json::detail
