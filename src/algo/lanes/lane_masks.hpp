// Pattern-match masks of a block of patterns: for a character c, lane l of
// c's row has bit i set when the l-th pattern's i-th character is c. Only the
// characters of the patterns own a row, so a block's table stays small in
// cache. ASCII characters find theirs through a direct index; other code
// points through an open addressing table whose slots come from a keyed hash,
// so crafted text cannot pile its characters onto one probe chain. Texts
// written in small character numbers (see batch/char_ids) index directly
// throughout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

#include "algo/lanes/lane_shape.hpp"
#include "base/hashing.hpp"

namespace kivo::lanes {

// One vector's worth of lanes, aligned for vector loads. 256-bit shapes use
// the first half.
struct alignas(64) LaneRow {
  unsigned char bytes[64];
};

// Writes `value`, truncated to the lane width, into lane `lane` of `row`.
inline void put_lane(LaneRow& row, Shape shape, std::size_t lane, std::uint64_t value) {
  unsigned char* at = row.bytes + lane * (shape.bits / 8);
  switch (shape.bits) {
    case 8: {
      *at = static_cast<unsigned char>(value);
      break;
    }
    case 16: {
      auto v = std::uint16_t(value);
      std::memcpy(at, &v, sizeof v);
      break;
    }
    case 32: {
      auto v = std::uint32_t(value);
      std::memcpy(at, &v, sizeof v);
      break;
    }
    default: std::memcpy(at, &value, sizeof value);
  }
}

inline std::uint64_t get_lane(const LaneRow& row, Shape shape, std::size_t lane) {
  const unsigned char* at = row.bytes + lane * (shape.bits / 8);
  switch (shape.bits) {
    case 8: return *at;
    case 16: {
      std::uint16_t v;
      std::memcpy(&v, at, sizeof v);
      return v;
    }
    case 32: {
      std::uint32_t v;
      std::memcpy(&v, at, sizeof v);
      return v;
    }
    default: {
      std::uint64_t v;
      std::memcpy(&v, at, sizeof v);
      return v;
    }
  }
}

// Bits 0 .. count - 1 (count <= 64).
inline std::uint64_t low_bits(std::size_t count) {
  return count >= 64 ? ~std::uint64_t(0) : (std::uint64_t(1) << count) - 1;
}

class LaneMasks {
 public:
  // Patterns of at most 64 characters, at most shape.lanes of them. With an
  // `alphabet`, the characters of patterns and texts are numbers below it,
  // which all index their rows directly.
  LaneMasks(std::span<const std::u32string_view> patterns, Shape shape, std::size_t alphabet = 0);

  const LaneRow* row(char32_t c) const {
    if (c < direct_size_) return &rows_[direct_rows_[c]];
    if (slot_mask_ == 0) return &rows_[kZeroRow];
    for (std::size_t s = slot_of(c);; s = (s + 1) & slot_mask_) {
      if (slots_[s].key == c) return &rows_[slots_[s].row];
      if (slots_[s].key == kNoKey) return &rows_[kZeroRow];
    }
  }

 private:
  static constexpr std::size_t kAscii = 128;
  static constexpr std::size_t kZeroRow = 0;      // characters of no pattern
  static constexpr char32_t kNoKey = 0xFFFFFFFF;  // not a code point

  std::size_t slot_of(char32_t c) const { return std::size_t(mix64(key_ ^ c) >> shift_); }
  // Sets each pattern's bits in its characters' rows, in lanes of Bits.
  template <unsigned Bits>
  void set_bits(std::span<const std::u32string_view> patterns);

  struct Slot {
    char32_t key;
    std::uint32_t row;
  };

  // The zero row, then one per distinct character of the patterns.
  std::vector<LaneRow> rows_;
  // Characters below direct_size_ find their row here: ASCII, or every
  // number of an alphabet.
  std::vector<std::uint16_t> direct_rows_;
  std::size_t direct_size_ = kAscii;
  std::vector<Slot> slots_;
  std::uint64_t key_ = 0;
  unsigned shift_ = 64;
  std::size_t slot_mask_ = 0;  // 0: no non-ASCII character in any pattern
};

}  // namespace kivo::lanes
