#include "algo/lanes/lane_masks.hpp"

#include <stdexcept>

namespace kivo::lanes {

template <class RowOf>
void LaneMasks::set_bits(std::span<const std::u32string_view> patterns, Shape shape, RowOf row_of) {
  for (std::size_t lane = 0; lane < patterns.size(); ++lane) {
    std::u32string_view p = patterns[lane];
    for (std::size_t i = 0; i < p.size(); ++i) {
      LaneRow& row = rows_[row_of(p[i])];
      put_lane(row, shape, lane, get_lane(row, shape, lane) | (std::uint64_t(1) << i));
    }
  }
}

std::uint16_t LaneMasks::direct_row(char32_t c) {
  if (direct_[c] == kZeroRow) {
    direct_[c] = std::uint16_t(rows_.size());
    rows_.push_back(LaneRow{});
  }
  return direct_[c];
}

LaneMasks::LaneMasks(std::span<const std::u32string_view> patterns, Shape shape,
                     std::size_t alphabet)
    : rows_(1) {
  if (alphabet > 0) {
    numbered_rows_.assign(alphabet, kZeroRow);
    direct_ = numbered_rows_.data();
    direct_size_ = alphabet;
    set_bits(patterns, shape, [&](char32_t c) -> std::size_t {
      if (c >= alphabet) throw std::invalid_argument("lane block: character beyond the alphabet");
      return direct_row(c);
    });
    return;
  }
  std::size_t wide = 0;
  for (std::u32string_view p : patterns)
    for (char32_t c : p) wide += c >= kAscii;
  if (wide > 0) {
    // At most half full: short probe chains for hits and misses alike.
    unsigned bits = 1;
    while ((std::size_t(1) << bits) < 2 * wide) ++bits;
    shift_ = 64 - bits;
    slot_mask_ = (std::size_t(1) << bits) - 1;
    key_ = random_table_key();
    slots_.assign(slot_mask_ + 1, Slot{kNoKey, 0});
  }
  set_bits(patterns, shape, [&](char32_t c) -> std::size_t {
    if (c < kAscii) return direct_row(c);
    std::size_t s = slot_of(c);
    while (slots_[s].key != c && slots_[s].key != kNoKey) s = (s + 1) & slot_mask_;
    if (slots_[s].key == kNoKey) {
      slots_[s] = {c, std::uint32_t(rows_.size())};
      rows_.push_back(LaneRow{});
    }
    return slots_[s].row;
  });
}

}  // namespace kivo::lanes
