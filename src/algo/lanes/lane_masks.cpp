#include "algo/lanes/lane_masks.hpp"

#include <stdexcept>
#include <type_traits>

namespace kivo::lanes {

template <unsigned Bits>
void LaneMasks::set_bits(std::span<const std::u32string_view> patterns) {
  using Lane = std::conditional_t<
      Bits == 8, std::uint8_t,
      std::conditional_t<Bits == 16, std::uint16_t,
                         std::conditional_t<Bits == 32, std::uint32_t, std::uint64_t>>>;
  for (std::size_t lane = 0; lane < patterns.size(); ++lane) {
    std::u32string_view p = patterns[lane];
    for (std::size_t i = 0; i < p.size(); ++i) {
      unsigned char* at = rows_[std::size_t(row(p[i]) - rows_.data())].bytes + lane * sizeof(Lane);
      Lane value;
      std::memcpy(&value, at, sizeof value);
      value = Lane(value | (Lane(1) << i));
      std::memcpy(at, &value, sizeof value);
    }
  }
}

// Rows are numbered first, then allocated at once and their bits set: a
// block is made for each sweep of its patterns, and growing the rows one by
// one showed in short sweeps.
LaneMasks::LaneMasks(std::span<const std::u32string_view> patterns, Shape shape,
                     std::size_t alphabet)
    : direct_rows_(alphabet > 0 ? alphabet : kAscii, kZeroRow), direct_size_(direct_rows_.size()) {
  std::size_t rows = 1;  // the zero row
  // Without a branch: whether a character is new is not predictable.
  auto number = [&](std::uint16_t& entry) {
    bool fresh = entry == kZeroRow;
    entry = fresh ? std::uint16_t(rows) : entry;
    rows += fresh;
  };
  if (alphabet > 0) {
    for (std::u32string_view p : patterns) {
      for (char32_t c : p) {
        if (c >= alphabet) throw std::invalid_argument("lane block: character beyond the alphabet");
        number(direct_rows_[c]);
      }
    }
  } else {
    std::size_t wide = 0;
    for (std::u32string_view p : patterns) {
      for (char32_t c : p) {
        if (c >= kAscii) {
          ++wide;
          continue;
        }
        number(direct_rows_[c]);
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
  }
  rows_.resize(rows);
  switch (shape.bits) {
    case 8: set_bits<8>(patterns); break;
    case 16: set_bits<16>(patterns); break;
    case 32: set_bits<32>(patterns); break;
    default: set_bits<64>(patterns);
  }
}

}  // namespace kivo::lanes
