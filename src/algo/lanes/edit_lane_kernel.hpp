// What the Levenshtein and OSA lane kernels share, written once over the
// lane operations (Ops) and a column step. No include guard:
// lane_kernels_body.hpp includes it inside each instruction set's namespace
// and target region.

#include "algo/lanes/texts_in_twos.hpp"

// One text against every lane. Bit i of a lane's pv/mv says that the value
// at row i + 1 of the current column is one more/less than at row i; row 0
// holds the column number j. So D[m][n] = n + popcount(pv) - popcount(mv)
// over the pattern's m rows, once the last column is done. Column<Ops> holds
// pv, mv and whatever else its step keeps; start() gives column 0's.
//
// Bounds: values never fall along a diagonal of the dynamic programme, so
// D[m][n] >= D[m - (n - j)][j], read off column j the same way; and D[m][n]
// >= |n - m|. A lane is above its bound once either exceeds it. The check
// runs every few columns while the values fit the lane width.
template <template <class> class Column>
struct EditLaneKernel {
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

    if (run_in_twos(c, [&](auto... texts) { run_two<Ops>(c, texts...); })) {
      return low_bits(c.count);
    }

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

    V change = changes<Ops>(c, col);
    Signed lane_changes[kLanes];
    Ops::store(lane_changes, change);
    std::uint32_t distances[kLanes];
    for (std::size_t l = 0; l < kLanes; ++l) {
      distances[l] = std::uint32_t(std::int64_t(n) + lane_changes[l]);
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
  // shadow. Lane l's distances go to out[l * stride] and out2[l * stride]
  // (none when out2 is null, and text2 then empty).
  template <class Ops>
  static void run_two(const Call& c, std::u32string_view text, std::u32string_view text2,
                      std::uint32_t* out, std::uint32_t* out2, std::size_t stride) {
    auto one = Column<Ops>::start(), two = Column<Ops>::start();
    std::size_t both = std::min(text.size(), text2.size());
    for (std::size_t j = 0; j < both;) {
      for (std::size_t piece = cancel::piece_end(j, both); j < piece; ++j) {
        one.step(Ops::load(c.masks->row(text[j])));
        two.step(Ops::load(c.masks->row(text2[j])));
      }
    }
    // The rest of the longer text, polled as if it ran on from the start.
    for (std::size_t j = both; j < text.size();) {
      for (std::size_t piece = both + cancel::piece_end(j - both, text.size() - both); j < piece;
           ++j)
        one.step(Ops::load(c.masks->row(text[j])));
    }
    for (std::size_t j = both; j < text2.size();) {
      for (std::size_t piece = both + cancel::piece_end(j - both, text2.size() - both); j < piece;
           ++j)
        two.step(Ops::load(c.masks->row(text2[j])));
    }
    write_distances<Ops>(c, one, text.size(), out, stride);
    if (out2 != nullptr) write_distances<Ops>(c, two, text2.size(), out2, stride);
  }

  // D[m][n] - n of each lane, from the last column's deltas.
  template <class Ops>
  static typename Ops::V changes(const Call& c, const Column<Ops>& col) {
    const typename Ops::V length_mask = Ops::load(c.length_masks);
    return Ops::sub(Ops::popcount(Ops::bit_and(col.pv, length_mask)),
                    Ops::popcount(Ops::bit_and(col.mv, length_mask)));
  }

  template <class Ops>
  static void write_distances(const Call& c, const Column<Ops>& col, std::size_t n,
                              std::uint32_t* out, std::size_t stride) {
    typename Ops::Signed lane_changes[Ops::kLanes];
    Ops::store(lane_changes, changes<Ops>(c, col));
    for (std::size_t l = 0; l < c.count; ++l) {
      out[l * stride] = std::uint32_t(std::int64_t(n) + lane_changes[l]);
    }
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
