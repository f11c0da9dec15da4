// The optimal string alignment lane kernel, written once over the lane
// operations (Ops). No include guard: lane_kernels_body.hpp includes it
// inside each instruction set's namespace and target region.

// Myers' column step with one more way to reach the diagonal (Hyyrö 2003):
// row i + 1 of column j + 1 takes the swap of the pattern's characters i, i + 1
// with the text's j, j + 1 when the pattern's i + 1 matches the text's j
// (the previous column's masks, shifted down one row), its i matches the
// text's j + 1, and the diagonal there was not already free. The rest is
// Levenshtein's, so are the bounds: OSA's values never fall along a
// diagonal either, and the length gap bounds it from below.
struct OsaKernel {
  using Call = LevenshteinCall;
  using Result = std::uint64_t;  // the lanes within their bounds

  // One column's state; start() gives column 0's.
  template <class Ops>
  struct Column {
    using V = typename Ops::V;
    V pv, mv, d0, previous;

    static Column start() {
      return {Ops::splat(~std::uint64_t(0)), Ops::zero(), Ops::zero(), Ops::zero()};
    }

    void step(V eq) {
      const V ones = Ops::splat(~std::uint64_t(0));
      V swapped = Ops::bit_and(Ops::shl1(Ops::and_not(eq, d0)), previous);
      d0 = Ops::bit_or(Ops::bit_or(Ops::bit_xor(Ops::add(Ops::bit_and(eq, pv), pv), pv), eq),
                       Ops::bit_or(mv, swapped));
      V hp = Ops::bit_or(mv, Ops::bit_xor(Ops::bit_or(d0, pv), ones));
      V hn = Ops::bit_and(pv, d0);
      hp = Ops::bit_or(Ops::shl1(hp), Ops::splat(1));  // row 0 grows by one per column
      hn = Ops::shl1(hn);
      pv = Ops::bit_or(hn, Ops::bit_xor(Ops::bit_or(d0, hp), ones));
      mv = Ops::bit_and(hp, d0);
      previous = eq;
    }
  };

  template <class Ops>
  static Result run(const Call& c) {
    using V = typename Ops::V;
    using Mask = typename Ops::Mask;
    using Signed = typename Ops::Signed;
    constexpr std::size_t kLanes = Ops::kLanes;
    constexpr std::uint64_t kLaneMax = (std::uint64_t(1) << (Ops::kBits - 1)) - 1;
    constexpr std::size_t kCheckedColumns = kLaneMax / 2;
    const V length_mask = Ops::load(c.length_masks);
    const std::size_t n = c.n;

    V bound{};
    Mask gap_above{};
    if (c.bounded) {
      bound = Ops::splat(std::min<std::uint64_t>(c.bound, kLaneMax));
      if (c.bounds != nullptr) {
        Signed lanes[kLanes] = {};
        for (std::size_t l = 0; l < c.count; ++l) {
          lanes[l] = Signed(std::min<std::uint64_t>(c.bounds[l], kLaneMax));
        }
        bound = Ops::load_lanes(lanes);
      }
      bound = Ops::bit_or(bound, Ops::load(c.unused));
      V text_length = Ops::splat(std::min<std::uint64_t>(n, kCheckedColumns));
      V lengths = Ops::load(c.lengths);
      gap_above = Ops::greater(Ops::sub(text_length, lengths), bound);
      if (Ops::all(Ops::either(gap_above, Ops::greater(Ops::sub(lengths, text_length), bound)))) {
        report_above(c, nullptr);
        return 0;
      }
    }

    if (c.out2 != nullptr) return run_two<Ops>(c);

    auto col = Column<Ops>::start();
    for (std::size_t j = 0; j < n;) {
      for (std::size_t piece = cancel::piece_end(j, n); j < piece; ++j) {
        if (c.bounded && j % 4 == 0 && j != 0 && j + 2 <= n && j <= kCheckedColumns) {
          V diagonal = Ops::shr(length_mask, n - j);
          V value =
              Ops::add(Ops::splat(j), Ops::sub(Ops::popcount(Ops::bit_and(col.pv, diagonal)),
                                               Ops::popcount(Ops::bit_and(col.mv, diagonal))));
          if (Ops::all(Ops::either(gap_above, Ops::greater(value, bound)))) {
            report_above(c, nullptr);
            return 0;
          }
        }
        col.step(Ops::load(c.masks->row(c.text[j])));
      }
    }

    V change = Ops::sub(Ops::popcount(Ops::bit_and(col.pv, length_mask)),
                        Ops::popcount(Ops::bit_and(col.mv, length_mask)));
    Signed changes[kLanes];
    Ops::store(changes, change);
    std::uint32_t distances[kLanes];
    for (std::size_t l = 0; l < kLanes; ++l) {
      distances[l] = std::uint32_t(std::int64_t(n) + changes[l]);
    }
    std::uint64_t lanes = low_bits(c.count);
    if (!c.bounded) {
      std::copy_n(distances, c.count, c.out);
      return lanes;
    }
    report_above(c, distances);
    std::uint64_t within = 0;
    for (std::size_t l = 0; l < c.count; ++l) {
      std::uint32_t b = c.bounds != nullptr ? c.bounds[l] : c.bound;
      within |= std::uint64_t(distances[l] <= b) << l;
    }
    return within;
  }

  // Two texts without bounds, their columns interleaved to hide latency.
  template <class Ops>
  static Result run_two(const Call& c) {
    auto one = Column<Ops>::start(), two = Column<Ops>::start();
    std::size_t both = std::min(c.n, c.n2);
    for (std::size_t j = 0; j < both;) {
      for (std::size_t piece = cancel::piece_end(j, both); j < piece; ++j) {
        one.step(Ops::load(c.masks->row(c.text[j])));
        two.step(Ops::load(c.masks->row(c.text2[j])));
      }
    }
    for (std::size_t j = both; j < c.n;) {
      for (std::size_t piece = cancel::piece_end(j, c.n); j < piece; ++j)
        one.step(Ops::load(c.masks->row(c.text[j])));
    }
    for (std::size_t j = both; j < c.n2;) {
      for (std::size_t piece = cancel::piece_end(j, c.n2); j < piece; ++j)
        two.step(Ops::load(c.masks->row(c.text2[j])));
    }
    write_distances<Ops>(c, one, c.n, c.out);
    write_distances<Ops>(c, two, c.n2, c.out2);
    return low_bits(c.count);
  }

  template <class Ops>
  static void write_distances(const Call& c, const Column<Ops>& col, std::size_t n,
                              std::uint32_t* out) {
    const typename Ops::V length_mask = Ops::load(c.length_masks);
    typename Ops::Signed changes[Ops::kLanes];
    Ops::store(changes, Ops::sub(Ops::popcount(Ops::bit_and(col.pv, length_mask)),
                                 Ops::popcount(Ops::bit_and(col.mv, length_mask))));
    for (std::size_t l = 0; l < c.count; ++l) out[l] = std::uint32_t(std::int64_t(n) + changes[l]);
  }

  // The distances, or bound + 1 above the bound (every lane when null).
  static void report_above(const Call& c, const std::uint32_t* distances) {
    for (std::size_t l = 0; l < c.count; ++l) {
      std::uint32_t b = c.bounds != nullptr ? c.bounds[l] : c.bound;
      c.out[l] = distances == nullptr || distances[l] > b ? b + 1 : distances[l];
    }
  }
};
