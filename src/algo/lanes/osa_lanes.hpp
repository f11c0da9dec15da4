// Optimal string alignment distances from one text to a block of short
// patterns at once: Hyyrö's bit-parallel OSA column step on every lane of a
// vector. The distances are those of osa_distance on the same code points;
// same use, bounds and threading as LevenshteinBlock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "algo/lanes/lane_kernels.hpp"
#include "algo/lanes/lane_masks.hpp"
#include "algo/lanes/lane_shape.hpp"

namespace kivo::lanes {

class OsaBlock {
 public:
  static constexpr std::uint32_t kNoBound = 0xFFFFFFFF;

  // The same conditions on the patterns as LevenshteinBlock's.
  explicit OsaBlock(std::span<const std::u32string_view> patterns, Isa isa = simd::active());

  std::size_t size() const { return count_; }

  // out[l] = the distance between `text` and pattern l, for l < size().
  void distances(std::u32string_view text, std::uint32_t* out) const;
  void distances(std::u32string_view text, std::u32string_view text2, std::uint32_t* out,
                 std::uint32_t* out2) const;
  // Above a lane's bound, bound + 1; returns the lanes within their bounds.
  std::uint64_t distances(std::u32string_view text, const std::uint32_t* bounds,
                          std::uint32_t* out) const;

 private:
  LevenshteinCall call(std::u32string_view text, const std::uint32_t* bounds,
                       std::uint32_t* out) const;

  Shape shape_;
  std::size_t count_;
  LaneMasks masks_;
  LaneRow lengths_{};
  LaneRow length_masks_{};
  LaneRow unused_{};
  LevenshteinEntry entry_;
};

}  // namespace kivo::lanes
