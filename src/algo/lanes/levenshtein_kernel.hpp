// The Levenshtein lane kernel, written once over the lane operations (Ops).
// No include guard: each lane_kernels_<set>.cpp includes it inside its own
// namespace and target region, after every header it needs.

// One text against every lane. Bit i of a lane's pv/mv says that the value
// at row i + 1 of the current column is one more/less than at row i; row 0
// holds the column number j. So D[m][n] = n + popcount(pv) - popcount(mv)
// over the pattern's m rows, once the last column is done.
//
// Bounds: values never fall along a diagonal of the dynamic programme, so
// D[m][n] >= D[m - (n - j)][j], read off column j the same way; and D[m][n]
// >= |n - m|. A lane is above its bound once either exceeds it. The check
// runs every few columns while the values fit the lane width.
struct LevenshteinKernel {
  using Call = LevenshteinCall;
  using Result = std::uint64_t;  // the lanes within their bounds

  template <class Ops>
  static Result run(const Call& c) {
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

    // Lanes past count get bound -1: always above, so they never hold up
    // the early stop. Lengths are compared with the text's up to where the
    // lanes hold them; past that, n - m still bounds the distance from below.
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

    V pv = ones;
    V mv = Ops::zero();
    for (std::size_t j = 0; j < n;) {
      for (std::size_t piece = cancel::piece_end(j, n); j < piece; ++j) {
        if (c.bounded && j % 4 == 0 && j != 0 && j + 2 <= n && j <= kCheckedColumns) {
          V diagonal = Ops::shr(length_mask, n - j);
          V value = Ops::add(Ops::splat(j), Ops::sub(Ops::popcount(Ops::bit_and(pv, diagonal)),
                                                     Ops::popcount(Ops::bit_and(mv, diagonal))));
          if (Ops::all(Ops::either(gap_above, Ops::greater(value, bound)))) {
            report_above(c, nullptr);
            return 0;
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
    }

    V change = Ops::sub(Ops::popcount(Ops::bit_and(pv, length_mask)),
                        Ops::popcount(Ops::bit_and(mv, length_mask)));
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
    if (n <= kCheckedColumns) {
      return lanes & ~Ops::bits(Ops::greater(Ops::add(Ops::splat(n), change), bound));
    }
    std::uint64_t within = 0;
    for (std::size_t l = 0; l < c.count; ++l) {
      std::uint32_t b = c.bounds != nullptr ? c.bounds[l] : c.bound;
      within |= std::uint64_t(distances[l] <= b) << l;
    }
    return within;
  }

  // Two texts without bounds, their columns interleaved: one column's steps
  // wait on each other, two texts' do not, so the second runs in the first's
  // shadow.
  template <class Ops>
  static Result run_two(const Call& c) {
    using V = typename Ops::V;
    const V ones = Ops::splat(~std::uint64_t(0));
    const V one = Ops::splat(1);
    auto step = [&](V& pv, V& mv, char32_t ch) {
      V eq = Ops::load(c.masks->row(ch));
      V xv = Ops::bit_or(eq, mv);
      V xh = Ops::bit_or(Ops::bit_xor(Ops::add(Ops::bit_and(eq, pv), pv), pv), eq);
      V hp = Ops::bit_or(mv, Ops::bit_xor(Ops::bit_or(xh, pv), ones));
      V hn = Ops::bit_and(pv, xh);
      hp = Ops::bit_or(Ops::shl1(hp), one);
      hn = Ops::shl1(hn);
      pv = Ops::bit_or(hn, Ops::bit_xor(Ops::bit_or(xv, hp), ones));
      mv = Ops::bit_and(hp, xv);
    };
    V pv1 = ones, mv1 = Ops::zero(), pv2 = ones, mv2 = Ops::zero();
    std::size_t both = std::min(c.n, c.n2);
    for (std::size_t j = 0; j < both;) {
      for (std::size_t piece = cancel::piece_end(j, both); j < piece; ++j) {
        step(pv1, mv1, c.text[j]);
        step(pv2, mv2, c.text2[j]);
      }
    }
    for (std::size_t j = both; j < c.n;) {
      for (std::size_t piece = cancel::piece_end(j, c.n); j < piece; ++j) step(pv1, mv1, c.text[j]);
    }
    for (std::size_t j = both; j < c.n2;) {
      for (std::size_t piece = cancel::piece_end(j, c.n2); j < piece; ++j)
        step(pv2, mv2, c.text2[j]);
    }
    write_distances<Ops>(c, pv1, mv1, c.n, c.out);
    write_distances<Ops>(c, pv2, mv2, c.n2, c.out2);
    return low_bits(c.count);
  }

  // D[m][n] of each lane, from the last column's deltas.
  template <class Ops>
  static void write_distances(const Call& c, typename Ops::V pv, typename Ops::V mv, std::size_t n,
                              std::uint32_t* out) {
    const typename Ops::V length_mask = Ops::load(c.length_masks);
    typename Ops::Signed changes[Ops::kLanes];
    Ops::store(changes, Ops::sub(Ops::popcount(Ops::bit_and(pv, length_mask)),
                                 Ops::popcount(Ops::bit_and(mv, length_mask))));
    for (std::size_t l = 0; l < c.count; ++l) out[l] = std::uint32_t(std::int64_t(n) + changes[l]);
  }

  // Writes the distances, or bound + 1 where they exceed the bound (every
  // lane when distances is null). Plain loops, which the compiler vectorises.
  static void report_above(const Call& c, const std::uint32_t* distances) {
    if (c.bounds == nullptr) {
      std::uint32_t b = c.bound;
      if (distances == nullptr) {
        std::fill_n(c.out, c.count, b + 1);
        return;
      }
      for (std::size_t l = 0; l < c.count; ++l) c.out[l] = distances[l] > b ? b + 1 : distances[l];
      return;
    }
    for (std::size_t l = 0; l < c.count; ++l) {
      std::uint32_t b = c.bounds[l];
      c.out[l] = distances == nullptr || distances[l] > b ? b + 1 : distances[l];
    }
  }
};
