// Edit distances from one text to a block of short patterns at once: a
// bit-parallel column step runs on every lane of a vector, one step per
// character of the text. LevenshteinBlock and OsaBlock differ only in their
// step.
//
// Typical use: sort the patterns by length, cut them into blocks of
// lanes_to_take(...) patterns, and pass every text through every block. A
// block is immutable after construction; any number of threads may call its
// const members at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "algo/lanes/lane_kernels.hpp"
#include "algo/lanes/lane_patterns.hpp"

namespace kivo::lanes {

class EditLanes {
 public:
  // As a bound: none, every distance exact.
  static constexpr std::uint32_t kNoBound = 0xFFFFFFFF;

  std::size_t size() const { return patterns_.count; }

  // out[l] = the distance between `text` (any length below 2^32 - 64) and
  // pattern l, for l < size().
  void distances(std::u32string_view text, std::uint32_t* out) const;
  // The same for two texts at once, into out and out2: faster than one
  // after the other.
  void distances(std::u32string_view text, std::u32string_view text2, std::uint32_t* out,
                 std::uint32_t* out2) const;
  // Every text's distances, in one call: pattern l's to texts[t] at
  // out[l * texts.size() + t].
  void distances(std::span<const std::u32string_view> texts, std::uint32_t* out) const;

  // The same, except that a distance above the lane's bound is reported as
  // bound + 1; returns the lanes within their bounds (bit l for pattern l).
  // A block whose lengths all differ from the text's by more than the bound
  // costs next to nothing, and the pass over the text stops as soon as every
  // lane is known to be above its bound.
  std::uint64_t distances(std::u32string_view text, std::uint32_t bound, std::uint32_t* out) const;
  std::uint64_t distances(std::u32string_view text, const std::uint32_t* bounds,
                          std::uint32_t* out) const;

 protected:
  // The conditions on the patterns are LanePatterns'; `kernel` picks the
  // step from an instruction set's table.
  EditLanes(std::span<const std::u32string_view> patterns, Isa isa, std::size_t alphabet,
            LevenshteinEntry const (LaneKernels::*kernel)[4]);

 private:
  LevenshteinCall call(std::u32string_view text, std::uint32_t bound, const std::uint32_t* bounds,
                       std::uint32_t* out) const;

  LanePatterns patterns_;
  LevenshteinEntry entry_;
};

}  // namespace kivo::lanes
