// Levenshtein distances from one text to a block of patterns too long for
// lanes, each wanted only within a bound of at most 63: the patterns' bands
// of 64 rows slide down the same diagonals, one 64-bit lane each (see
// levenshtein_band_kernel.hpp). Records matched with a cutoff come this way.
//
// A block is immutable after construction; any number of threads may call
// its const members at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "algo/char_map.hpp"
#include "algo/lanes/lane_kernels.hpp"
#include "algo/lanes/lane_shape.hpp"

namespace kivo::lanes {

class LevenshteinBand {
 public:
  static constexpr std::uint32_t kMaxBound = 63;

  // How many patterns a block holds with `isa`.
  static std::size_t lanes(Isa isa);

  // Up to lanes(isa) patterns of any length; `isa` simd::supported().
  // Otherwise throws std::invalid_argument.
  explicit LevenshteinBand(std::span<const std::u32string_view> patterns, Isa isa = simd::active());

  std::size_t size() const { return lengths_.size(); }

  struct Found {
    std::uint64_t within;  // the lanes whose distance is within their bound
    std::uint64_t left;    // the wanted lanes the shared band could not cover
  };

  // For every lane l in `wanted` (bit l), whose bound is at most kMaxBound
  // and at least the gap between the lengths: out[l] = the distance between
  // `text` and pattern l when it is within bounds[l]. `rows` is scratch.
  Found distances(std::u32string_view text, const std::uint32_t* bounds, std::uint64_t wanted,
                  std::uint32_t* out, std::vector<std::uint32_t>& rows) const;

 private:
  std::size_t lanes_;
  std::size_t words_;
  std::vector<std::uint64_t> lengths_;
  bitpar::DenseIds ids_;              // character -> its row of masks, less one
  std::vector<std::uint64_t> masks_;  // see LevenshteinBandCall
  LevenshteinBandEntry entry_;
};

}  // namespace kivo::lanes
