// The longest common subsequence lane kernel, written once over the lane
// operations (Ops). No include guard: lane_kernels_body.hpp includes it
// inside each instruction set's namespace and target region.

// A zero bit i of a lane's S says the LCS of the pattern's first i + 1
// characters grows there (Allison and Dix; Hyyrö): each column adds S's
// matched bits U to S, which carries each run's lowest match up to its first
// zero, and keeps S's unmatched bits: S' = (S + U) | (S & ~U). The LCS is
// the number of zeros among the pattern's rows.
//
// Needs: a lane that needs an LCS of at least `need` cannot reach it once
// the columns left cannot lift it there, nor when the shorter text is too
// short; the pass stops when every lane is past hope.
struct LcsKernel {
  using Call = LcsCall;
  using Result = std::uint64_t;  // the lanes reaching their needs

  template <class Ops>
  static typename Ops::V step(typename Ops::V s, typename Ops::V eq) {
    typename Ops::V u = Ops::bit_and(s, eq);
    return Ops::bit_or(Ops::add(s, u), Ops::and_not(s, u));
  }

  template <class Ops>
  static Result run(const Call& c) {
    using V = typename Ops::V;
    using Signed = typename Ops::Signed;
    constexpr std::size_t kLanes = Ops::kLanes;
    const V ones = Ops::splat(~std::uint64_t(0));
    const V length_mask = Ops::load(c.length_masks);
    const std::size_t n = c.n;
    // Needs and lengths stay within 65 and the columns checked within 64,
    // so every value below fits the narrowest lanes.
    constexpr std::size_t kChecked = 64;

    V need{};
    if (c.needs != nullptr) {
      Signed lanes[kLanes];
      for (std::size_t l = 0; l < kLanes; ++l) {
        lanes[l] =
            Signed(l < c.count ? std::min<std::uint32_t>(c.needs[l], kChecked + 1) : kChecked + 1);
      }
      need = Ops::load_lanes(lanes);
      V text_length = Ops::splat(std::min<std::size_t>(n, kChecked + 1));
      if (Ops::all(Ops::either(Ops::greater(need, Ops::load(c.lengths)),
                               Ops::greater(need, text_length)))) {
        return 0;
      }
    }

    if (c.out2 != nullptr) return run_two<Ops>(c);

    V s = ones;
    for (std::size_t j = 0; j < n;) {
      for (std::size_t piece = cancel::piece_end(j, n); j < piece; ++j) {
        if (c.needs != nullptr && j % 4 == 0 && j != 0 && n - j <= kChecked) {
          V found = Ops::popcount(Ops::and_not(length_mask, s));
          V reach = Ops::add(found, Ops::splat(n - j));
          if (Ops::all(Ops::greater(need, reach))) return 0;
        }
        s = step<Ops>(s, Ops::load(c.masks->row(c.text[j])));
      }
    }
    write_counts<Ops>(c, s, c.out);
    if (c.needs == nullptr) return low_bits(c.count);
    std::uint64_t reached = 0;
    for (std::size_t l = 0; l < c.count; ++l) reached |= std::uint64_t(c.out[l] >= c.needs[l]) << l;
    return reached;
  }

  // Two texts without needs, their columns interleaved to hide latency.
  template <class Ops>
  static Result run_two(const Call& c) {
    using V = typename Ops::V;
    V s1 = Ops::splat(~std::uint64_t(0)), s2 = s1;
    std::size_t both = std::min(c.n, c.n2);
    for (std::size_t j = 0; j < both;) {
      for (std::size_t piece = cancel::piece_end(j, both); j < piece; ++j) {
        s1 = step<Ops>(s1, Ops::load(c.masks->row(c.text[j])));
        s2 = step<Ops>(s2, Ops::load(c.masks->row(c.text2[j])));
      }
    }
    for (std::size_t j = both; j < c.n;) {
      for (std::size_t piece = cancel::piece_end(j, c.n); j < piece; ++j)
        s1 = step<Ops>(s1, Ops::load(c.masks->row(c.text[j])));
    }
    for (std::size_t j = both; j < c.n2;) {
      for (std::size_t piece = cancel::piece_end(j, c.n2); j < piece; ++j)
        s2 = step<Ops>(s2, Ops::load(c.masks->row(c.text2[j])));
    }
    write_counts<Ops>(c, s1, c.out);
    write_counts<Ops>(c, s2, c.out2);
    return low_bits(c.count);
  }

  template <class Ops>
  static void write_counts(const Call& c, typename Ops::V s, std::uint32_t* out) {
    typename Ops::Signed counts[Ops::kLanes];
    Ops::store(counts, Ops::popcount(Ops::and_not(Ops::load(c.length_masks), s)));
    for (std::size_t l = 0; l < c.count; ++l) out[l] = std::uint32_t(counts[l]);
  }
};
