#include "algo/lanes/levenshtein_lanes.hpp"

#include <algorithm>

#include "algo/lanes/lane_dispatch.hpp"

namespace kivo::lanes {

struct LevenshteinCall {
  const LaneMasks* masks;
  const LaneRow* lengths;
  const LaneRow* length_masks;
  std::size_t count;
  const char32_t* text;
  std::size_t n;
  const std::uint32_t* bounds;  // null: no bounds
  std::uint32_t* out;
};

namespace {

// One text against every lane. Bit i of a lane's pv/mv says that the value
// at row i + 1 of the current column is one more/less than at row i; row 0
// holds the column number j. So D[m][n] = n + popcount(pv) - popcount(mv)
// over the pattern's m rows, once the last column is done.
//
// Bounds: values never fall along a diagonal of the dynamic programme, so
// D[m][n] >= D[m - (n - j)][j], read off column j the same way; and D[m][n]
// >= n - m. A lane is above its bound once either exceeds it. The check runs
// every few columns while the values fit the lane width.
struct LevenshteinKernel {
  using Call = LevenshteinCall;

  template <class Ops>
  static void run(const Call& c) {
    using V = typename Ops::V;
    using Mask = typename Ops::Mask;
    using Signed = typename Ops::Signed;
    constexpr std::size_t kLanes = Ops::kLanes;
    constexpr std::uint64_t kLaneMax = (std::uint64_t(1) << (Ops::kBits - 1)) - 1;
    constexpr std::size_t kCheckedColumns = kLaneMax / 2;  // column + 64 rows stay below kLaneMax
    const V ones = Ops::splat(~std::uint64_t(0));
    const V one = Ops::splat(1);
    const V length_mask = Ops::load(c.length_masks);
    const std::size_t n = c.n;

    V bound = Ops::zero();
    Mask gap_above{};
    if (c.bounds != nullptr) {
      Signed lanes[kLanes];
      for (std::size_t l = 0; l < kLanes; ++l) {
        lanes[l] =
            l < c.count ? Signed(std::min<std::uint64_t>(c.bounds[l], kLaneMax)) : Signed(-1);
      }
      bound = Ops::load_lanes(lanes);
      V text_length = Ops::splat(std::min<std::uint64_t>(n, kCheckedColumns));
      gap_above = Ops::greater(Ops::sub(text_length, Ops::load(c.lengths)), bound);
    }

    V pv = ones;
    V mv = Ops::zero();
    for (std::size_t j = 0; j < n; ++j) {
      if (c.bounds != nullptr && j % 4 == 0 && j <= kCheckedColumns) {
        V diagonal = Ops::shr(length_mask, n - j);
        V value = Ops::add(Ops::splat(j), Ops::sub(Ops::popcount(Ops::bit_and(pv, diagonal)),
                                                   Ops::popcount(Ops::bit_and(mv, diagonal))));
        if (Ops::all(Ops::either(gap_above, Ops::greater(value, bound)))) {
          for (std::size_t l = 0; l < c.count; ++l) c.out[l] = c.bounds[l] + 1;
          return;
        }
      }
      V eq = Ops::load(c.masks->row(c.text[j]));
      V xv = Ops::bit_or(eq, mv);
      V xh = Ops::bit_or(Ops::bit_xor(Ops::add(Ops::bit_and(eq, pv), pv), pv), eq);
      V hp = Ops::bit_or(mv, Ops::bit_xor(Ops::bit_or(xh, pv), ones));
      V hn = Ops::bit_and(pv, xh);
      hp = Ops::bit_or(Ops::shl1(hp), one);  // row 0 grows by one per column
      hn = Ops::shl1(hn);
      pv = Ops::bit_or(hn, Ops::bit_xor(Ops::bit_or(xv, hp), ones));
      mv = Ops::bit_and(hp, xv);
    }

    Signed change[kLanes];
    Ops::store(change, Ops::sub(Ops::popcount(Ops::bit_and(pv, length_mask)),
                                Ops::popcount(Ops::bit_and(mv, length_mask))));
    for (std::size_t l = 0; l < c.count; ++l) {
      auto d = std::uint32_t(std::int64_t(n) + change[l]);
      c.out[l] = c.bounds != nullptr && d > c.bounds[l] ? c.bounds[l] + 1 : d;
    }
  }
};

}  // namespace

LevenshteinBlock::LevenshteinBlock(std::span<const std::u32string_view> patterns, Isa isa)
    : shape_(block_shape(patterns, isa)),
      count_(patterns.size()),
      masks_(patterns, shape_),
      entry_(entry_for<LevenshteinKernel>(isa, shape_)) {
  for (std::size_t l = 0; l < count_; ++l) {
    put_lane(lengths_, shape_, l, patterns[l].size());
    put_lane(length_masks_, shape_, l, low_bits(patterns[l].size()));
  }
}

void LevenshteinBlock::distances(std::u32string_view text, const std::uint32_t* bounds,
                                 std::uint32_t* out) const {
  entry_({&masks_, &lengths_, &length_masks_, count_, text.data(), text.size(), bounds, out});
}

void LevenshteinBlock::distances(std::u32string_view text, std::uint32_t* out) const {
  distances(text, static_cast<const std::uint32_t*>(nullptr), out);
}

void LevenshteinBlock::distances(std::u32string_view text, std::uint32_t bound,
                                 std::uint32_t* out) const {
  if (bound == kNoBound) return distances(text, out);
  std::uint32_t bounds[64];
  std::fill_n(bounds, count_, bound);
  distances(text, bounds, out);
}

}  // namespace kivo::lanes
