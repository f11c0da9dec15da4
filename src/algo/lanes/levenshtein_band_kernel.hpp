// The banded Levenshtein lane kernel: one text against patterns longer than
// a lane, each in a 64-bit lane that holds a band of 64 rows sliding down the
// diagonals. No include guard: each lane_kernels_<set>.cpp includes it inside
// its own namespace and target region, after every header it needs.
//
// At column j every lane holds rows top .. top + 63 with top = max(1, j -
// above), the same rows in every lane, so one character's masks for all the
// lanes load as one vector. Moving down a row drops the top row's delta and
// lets a new bottom row in at +1, and the row above the band counts +1 across:
// both only overestimate, so every value is the cost of some alignment. A
// path of cost <= bound stays within the diagonals the caller made the band
// cover, so such a value is exact, and a lane whose distance is within its
// bound reads it off row m at the end. `value` follows the top row, D[top][j].
//
// Values never fall along a diagonal: every few columns, a lane whose value
// where the column meets the diagonal through (m, n) exceeds its bound is out
// (a value within the bound there would be exact), and the pass stops once
// every lane is.
struct LevenshteinBandKernel {
  using Call = LevenshteinBandCall;
  using Result = std::uint64_t;  // the lanes within their bounds

  // The value `rows` (< 64) rows below one whose value is `value`, in a word
  // of vertical deltas whose bit 0 is that row.
  static std::uint64_t value_below(std::uint64_t value, std::uint64_t pv, std::uint64_t mv,
                                   std::uint64_t rows) {
    std::uint64_t under = rows == 0 ? 0 : (~std::uint64_t(0) >> (64 - rows)) << 1;
    return value + std::uint64_t(__builtin_popcountll(pv & under)) -
           std::uint64_t(__builtin_popcountll(mv & under));
  }

  template <class Ops>
  static Result run(const Call& c) {
    static_assert(Ops::kBits == 64);
    using V = typename Ops::V;
    using Signed = typename Ops::Signed;
    constexpr std::size_t kLanes = Ops::kLanes;
    const std::size_t stride = (c.words + 1) * kLanes;  // one character's masks, a zero word last
    const V ones = Ops::splat(~std::uint64_t(0));
    const V one = Ops::splat(1);
    const V high = Ops::splat(std::uint64_t(1) << 63);
    const std::uint64_t n = c.n;
    V pv = Ops::splat(~std::uint64_t(0));
    V mv = Ops::zero();
    V value = one;  // D[1][0]
    std::uint64_t top = 1;
    std::uint64_t live = c.live;
    Signed lanes_pv[kLanes];
    Signed lanes_mv[kLanes];
    Signed lanes_value[kLanes];
    auto spill = [&] {
      Ops::store(lanes_pv, pv);
      Ops::store(lanes_mv, mv);
      Ops::store(lanes_value, value);
    };
    auto lane_value = [&](std::size_t l, std::uint64_t rows) {
      return value_below(std::uint64_t(lanes_value[l]), std::uint64_t(lanes_pv[l]),
                         std::uint64_t(lanes_mv[l]), rows);
    };
    for (std::uint64_t j = 1; j <= n;) {
      for (std::size_t piece = cancel::piece_end(j - 1, n) + 1; j < piece; ++j) {
        if (j > c.above + 1) {
          value = Ops::add(value, Ops::bit_and(Ops::shr(pv, 1), one));
          value = Ops::sub(value, Ops::bit_and(Ops::shr(mv, 1), one));
          pv = Ops::bit_or(Ops::shr(pv, 1), high);
          mv = Ops::shr(mv, 1);
          ++top;
        }
        const std::uint64_t* masks = c.masks + std::size_t(c.text[j - 1]) * stride;
        std::uint64_t shift = (top - 1) % 64;
        const std::uint64_t* word = masks + (top - 1) / 64 * kLanes;
        V eq = Ops::load_lanes(reinterpret_cast<const Signed*>(word));
        if (shift != 0) {
          V next = Ops::load_lanes(reinterpret_cast<const Signed*>(word + kLanes));
          eq = Ops::bit_or(Ops::shr(eq, shift), Ops::shl(next, 64 - shift));
        }
        V xv = Ops::bit_or(eq, mv);
        V xh = Ops::bit_or(Ops::bit_xor(Ops::add(Ops::bit_and(eq, pv), pv), pv), eq);
        V hp = Ops::bit_or(mv, Ops::and_not(ones, Ops::bit_or(xh, pv)));
        V hn = Ops::bit_and(pv, xh);
        value = Ops::add(value, Ops::bit_and(hp, one));
        value = Ops::sub(value, Ops::bit_and(hn, one));
        hp = Ops::bit_or(Ops::shl1(hp), one);  // +1 from the row above the band
        hn = Ops::shl1(hn);
        pv = Ops::bit_or(hn, Ops::and_not(ones, Ops::bit_or(xv, hp)));
        mv = Ops::bit_and(hp, xv);
        if (j % 8 == 0) {
          spill();
          for (std::uint64_t rest = live; rest != 0; rest &= rest - 1) {
            std::size_t l = std::size_t(__builtin_ctzll(rest));
            std::uint64_t m = c.lengths[l];
            if (j + m < n + top || j + m - n - top > 63)
              continue;  // the diagonal is not in the band
            if (lane_value(l, j + m - n - top) > c.bounds[l]) live &= ~(std::uint64_t(1) << l);
          }
          if (live == 0) return 0;
        }
      }
    }
    spill();
    std::uint64_t within = 0;
    for (std::uint64_t rest = live; rest != 0; rest &= rest - 1) {
      std::size_t l = std::size_t(__builtin_ctzll(rest));
      std::uint64_t d = lane_value(l, c.lengths[l] - top);
      if (d <= c.bounds[l]) {
        c.out[l] = std::uint32_t(d);
        within |= std::uint64_t(1) << l;
      }
    }
    return within;
  }
};
