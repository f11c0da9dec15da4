#include "algo/lanes/levenshtein_band.hpp"

#include <algorithm>
#include <stdexcept>

namespace kivo::lanes {

namespace {

std::u32string joined(std::span<const std::u32string_view> patterns) {
  std::u32string all;
  for (std::u32string_view p : patterns) all += p;
  return all;
}

// The diagonals (column less row) that a path of cost <= bound from (0, 0)
// to (m, n) can use.
struct Diagonals {
  std::int64_t low;
  std::int64_t high;
};

Diagonals diagonals(std::uint64_t m, std::uint64_t n, std::uint64_t bound) {
  std::int64_t d = std::int64_t(n) - std::int64_t(m);
  std::int64_t slack = (std::int64_t(bound) - (d < 0 ? -d : d)) / 2;
  return {std::min<std::int64_t>(0, d) - slack, std::max<std::int64_t>(0, d) + slack};
}

}  // namespace

std::size_t LevenshteinBand::lanes(Isa isa) {
  return isa == Isa::Avx512 ? 8 : 4;
}

LevenshteinBand::LevenshteinBand(std::span<const std::u32string_view> patterns, Isa isa)
    : lanes_(lanes(isa)), words_(0), ids_(std::span<const char32_t>(joined(patterns))) {
  if (!simd::supported(isa) || patterns.size() > lanes_) {
    throw std::invalid_argument("band patterns beyond the lanes or the processor");
  }
  for (std::u32string_view p : patterns) {
    lengths_.push_back(p.size());
    words_ = std::max(words_, (p.size() + 63) / 64);
    for (char32_t c : p) ids_.add(c);
  }
  std::size_t stride = (words_ + 1) * lanes_;
  masks_.assign((ids_.count() + 1) * stride, 0);
  for (std::size_t l = 0; l < patterns.size(); ++l) {
    for (std::size_t i = 0; i < patterns[l].size(); ++i) {
      std::size_t row = ids_.find(patterns[l][i]) + 1;
      masks_[row * stride + i / 64 * lanes_ + l] |= std::uint64_t(1) << (i % 64);
    }
  }
  entry_ = kernels_for(isa).levenshtein_band;
}

LevenshteinBand::Found LevenshteinBand::distances(std::u32string_view text,
                                                  const std::uint32_t* bounds, std::uint64_t wanted,
                                                  std::uint32_t* out,
                                                  std::vector<std::uint32_t>& rows) const {
  // One band for all: the placement that covers the most lanes' diagonals.
  Diagonals needs[64];
  for (std::uint64_t rest = wanted; rest != 0; rest &= rest - 1) {
    std::size_t l = std::size_t(__builtin_ctzll(rest));
    needs[l] = diagonals(lengths_[l], text.size(), bounds[l]);
  }
  auto covered = [&](std::int64_t above) {
    std::uint64_t lanes = 0;
    for (std::uint64_t rest = wanted; rest != 0; rest &= rest - 1) {
      std::size_t l = std::size_t(__builtin_ctzll(rest));
      bool fits = needs[l].high <= above && needs[l].low >= above - 63;
      lanes |= std::uint64_t(fits) << l;
    }
    return lanes;
  };
  std::int64_t above = 0;
  std::uint64_t live = 0;
  for (std::uint64_t rest = wanted; rest != 0; rest &= rest - 1) {
    std::int64_t candidate = needs[__builtin_ctzll(rest)].high;
    std::uint64_t lanes = covered(candidate);
    if (__builtin_popcountll(lanes) > __builtin_popcountll(live)) {
      above = candidate;
      live = lanes;
    }
  }
  if (live == 0) return {0, wanted};
  rows.resize(text.size());
  for (std::size_t j = 0; j < text.size(); ++j) rows[j] = ids_.find(text[j]) + 1;  // none: row 0
  std::uint64_t within = entry_({masks_.data(), words_, rows.data(), text.size(),
                                 std::uint64_t(above), lengths_.data(), bounds, live, out});
  return {within, wanted & ~live};
}

}  // namespace kivo::lanes
