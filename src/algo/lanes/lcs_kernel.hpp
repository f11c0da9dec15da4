// The longest common subsequence lane kernel, written once over the lane
// operations (Ops). No include guard: lane_kernels_body.hpp includes it
// inside each instruction set's namespace and target region.

#include "algo/lanes/texts_in_twos.hpp"

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

    if (run_in_twos(c, [&](auto... texts) { run_two<Ops>(c, texts...); })) {
      return low_bits(c.count);
    }

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

  // Two texts without needs, their columns interleaved to hide latency: lane
  // l's counts go to out[l * stride] and out2[l * stride] (none when out2 is
  // null, and text2 then empty).
  template <class Ops>
  static void run_two(const Call& c, std::u32string_view text, std::u32string_view text2,
                      std::uint32_t* out, std::uint32_t* out2, std::size_t stride) {
    using V = typename Ops::V;
    V s1 = Ops::splat(~std::uint64_t(0)), s2 = s1;
    std::size_t both = std::min(text.size(), text2.size());
    for (std::size_t j = 0; j < both;) {
      for (std::size_t piece = cancel::piece_end(j, both); j < piece; ++j) {
        s1 = step<Ops>(s1, Ops::load(c.masks->row(text[j])));
        s2 = step<Ops>(s2, Ops::load(c.masks->row(text2[j])));
      }
    }
    // The rest of the longer text, polled as if it ran on from the start.
    for (std::size_t j = both; j < text.size();) {
      for (std::size_t piece = both + cancel::piece_end(j - both, text.size() - both); j < piece;
           ++j)
        s1 = step<Ops>(s1, Ops::load(c.masks->row(text[j])));
    }
    for (std::size_t j = both; j < text2.size();) {
      for (std::size_t piece = both + cancel::piece_end(j - both, text2.size() - both); j < piece;
           ++j)
        s2 = step<Ops>(s2, Ops::load(c.masks->row(text2[j])));
    }
    write_counts<Ops>(c, s1, out, stride);
    if (out2 != nullptr) write_counts<Ops>(c, s2, out2, stride);
  }

  template <class Ops>
  static void write_counts(const Call& c, typename Ops::V s, std::uint32_t* out,
                           std::size_t stride = 1) {
    typename Ops::Signed counts[Ops::kLanes];
    Ops::store(counts, Ops::popcount(Ops::and_not(Ops::load(c.length_masks), s)));
    for (std::size_t l = 0; l < c.count; ++l) out[l * stride] = std::uint32_t(counts[l]);
  }
};
