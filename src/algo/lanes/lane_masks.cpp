#include "algo/lanes/lane_masks.hpp"

#include <type_traits>

namespace kivo::lanes {

namespace {

// Sets bit i of lane `lane` of `row`, for lanes of Bits bits.
template <unsigned Bits>
void set_bit(LaneRow& row, std::size_t lane, std::size_t i) {
  using Lane = std::conditional_t<Bits == 16, std::uint16_t,
                                  std::conditional_t<Bits == 32, std::uint32_t, std::uint64_t>>;
  unsigned char* at = row.bytes + lane * sizeof(Lane);
  Lane value;
  std::memcpy(&value, at, sizeof value);
  value = Lane(value | (Lane(1) << i));
  std::memcpy(at, &value, sizeof value);
}

}  // namespace

// Rows are numbered first and allocated once, zeroed, then the bits set.
LaneMasks::LaneMasks(std::span<const std::u32string_view> patterns, Shape shape) {
  std::size_t wide = 0;
  std::size_t rows = 1;  // the zero row
  for (std::u32string_view p : patterns) {
    for (char32_t c : p) {
      if (c >= kAscii) {
        ++wide;
        continue;
      }
      // Without a branch: whether a character is new is not predictable.
      std::uint16_t r = ascii_rows_[c];
      bool fresh = r == kZeroRow;
      ascii_rows_[c] = fresh ? std::uint16_t(rows) : r;
      rows += fresh;
    }
  }
  if (wide > 0) {
    // At most half full: short probe chains for hits and misses alike.
    unsigned bits = 1;
    while ((std::size_t(1) << bits) < 2 * wide) ++bits;
    shift_ = 64 - bits;
    slot_mask_ = (std::size_t(1) << bits) - 1;
    key_ = random_table_key();
    slots_.assign(slot_mask_ + 1, Slot{kNoKey, 0});
    for (std::u32string_view p : patterns) {
      for (char32_t c : p) {
        if (c < kAscii) continue;
        std::size_t s = slot_of(c);
        while (slots_[s].key != c && slots_[s].key != kNoKey) s = (s + 1) & slot_mask_;
        if (slots_[s].key == kNoKey) slots_[s] = {c, std::uint32_t(rows++)};
      }
    }
  }
  rows_.resize(rows);
  auto fill = [&]<unsigned Bits>() {
    for (std::size_t lane = 0; lane < patterns.size(); ++lane) {
      std::u32string_view p = patterns[lane];
      for (std::size_t i = 0; i < p.size(); ++i) {
        set_bit<Bits>(rows_[std::size_t(row(p[i]) - rows_.data())], lane, i);
      }
    }
  };
  switch (shape.bits) {
    case 16: fill.template operator()<16>(); break;
    case 32: fill.template operator()<32>(); break;
    default: fill.template operator()<64>();
  }
}

}  // namespace kivo::lanes
