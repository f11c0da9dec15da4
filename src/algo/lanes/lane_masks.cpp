#include "algo/lanes/lane_masks.hpp"

namespace kivo::lanes {

LaneMasks::LaneMasks(std::span<const std::u32string_view> patterns, Shape shape) : rows_(1) {
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
  for (std::size_t lane = 0; lane < patterns.size(); ++lane) {
    std::u32string_view p = patterns[lane];
    for (std::size_t i = 0; i < p.size(); ++i) {
      char32_t c = p[i];
      std::size_t r;
      if (c < kAscii) {
        if (ascii_rows_[c] == kZeroRow) {
          ascii_rows_[c] = std::uint16_t(rows_.size());
          rows_.push_back(LaneRow{});
        }
        r = ascii_rows_[c];
      } else {
        std::size_t s = slot_of(c);
        while (slots_[s].key != c && slots_[s].key != kNoKey) s = (s + 1) & slot_mask_;
        if (slots_[s].key == kNoKey) {
          slots_[s] = {c, std::uint32_t(rows_.size())};
          rows_.push_back(LaneRow{});
        }
        r = slots_[s].row;
      }
      LaneRow& row = rows_[r];
      put_lane(row, shape, lane, get_lane(row, shape, lane) | (std::uint64_t(1) << i));
    }
  }
}

}  // namespace kivo::lanes
