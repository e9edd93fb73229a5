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
#include "json/compact_literal.h"
#include "json/literal_scalars.h"

namespace korvane::json::detail {

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
  // Takes up front all the memory that writing a text needs, handed on in pieces of `piece`
  // bytes, when no span of it between two places where no object is open is longer than
  // `span` and its open objects never hold more than `members` members at once; throws
  // std::bad_alloc.
  void reserve_for(std::size_t span, std::size_t piece, std::size_t members);

  // Writes the value at the start of `text` (whitespace before it is passed over); kSlack bytes
  // past its end can be read.
  void write(std::string_view text);

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
  // `"key":` as a compact member starts, up to 16 bytes of it, to compare in two words.
  struct KeyStart {
    std::array<std::uint64_t, 2> bytes, mask;
    bool whole;  // the whole of it is in `bytes`
  };
  struct Shape {
    std::uint32_t count = 0;  // 0: nothing remembered
    std::uint32_t kept = 0;
    std::array<std::string_view, kShapeKeys> keys;
    std::array<KeyStart, kShapeKeys> key_starts;
    std::array<std::uint8_t, kShapeKeys> order;
    std::array<std::uint16_t, kShapeKeys + 1> starts;  // of each member's `,\"key\":` in text
    std::array<char, kShapeText + kSlack> text;        // the slack: read by short copies
  };

  void put(const Scalar& value);
  void put_member(std::string_view lead, const Member& member, const char* written);
  void put_key(const Member& member, bool first);

  void before_element();
  const char* open(const char* p, const char* end, bool& value_follows);
  void close();
  bool write_record(const char*& at, const char* end, const Shape& shape);
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
  PieceSink* sink_ = nullptr;
  std::size_t piece_ = static_cast<std::size_t>(-1);
  bool stopped_ = false;
};

}  // namespace korvane::json::detail
