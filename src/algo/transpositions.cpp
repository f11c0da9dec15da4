#include "algo/transpositions.hpp"

#include <algorithm>
#include <span>
#include <utility>
#include <vector>

#include "algo/affixes.hpp"
#include "algo/bit_parallel.hpp"
#include "algo/bit_parallel_band.hpp"
#include "algo/bit_parallel_kernels.hpp"
#include "algo/char_map.hpp"
#include "algo/score_arithmetic.hpp"
#include "base/cancel.hpp"

namespace kivo {

namespace {

// Out of line, so that flattening the short path leaves the bands alone.
template <class C>
[[gnu::noinline]] std::uint64_t osa_long(std::span<const C> a, std::span<const C> b) {
  return bitpar::distance_long<bitpar::OsaSteps>(a, b);
}

// Inlined with the pieces of its short path: a short pair is one call, its
// masks and columns in registers.
template <class C>
[[gnu::always_inline]] inline std::uint64_t osa_stripped(std::span<const C> a,
                                                         std::span<const C> b) {
  if (a.size() > b.size()) std::swap(a, b);
  if (a.empty()) return b.size();
  if (a.size() <= 64) {
    return bitpar::on_one_word(
        a, b, [](auto eq, std::size_t m, auto text) { return bitpar::osa_word(eq, m, text); });
  }
  return osa_long(a, b);
}

// Unrestricted Damerau-Levenshtein in linear space. A swap that reaches
// cell (i, j) pairs a[i] with an earlier b[l] and b[j] with an earlier a[k],
// and costs the cell (k - 1, l - 1) plus everything between. When both gaps
// hold characters, substituting them is never dearer than the swap, so only
// swaps with no gap on one side count: those read the row before the last
// match of b[j] at column j - 2 (kept per column when the match is seen), or
// the row before the previous one at column l - 1 (kept per row).
//
// The texts come as slots: equal characters share one, which indexes
// last_row (the last row holding the character, 0 for none). Cells are of
// type I, as narrow as the longer text allows, in `cells`: 4 (m + 1) of them.
// Aligned to a cache line: where the linker happened to place its loop
// otherwise moved a short pair's time by 15 %.
template <class I, class S>
[[gnu::aligned(64)]] std::uint64_t damerau_levenshtein_rows(std::span<const S> a,
                                                            std::span<const S> b, I* last_row,
                                                            I* cells) {
  std::size_t n = a.size(), m = b.size();
  I* before = cells;                  // row i - 2
  I* previous = before + m + 1;       // row i - 1
  I* current = previous + m + 1;      // row i
  I* match_corner = current + m + 1;  // column j: D[k - 1][j - 2] of its last match
  for (std::size_t j = 0; j <= m; ++j) {
    previous[j] = I(j);
    match_corner[j] = 0;
  }
  cancel::Meter meter;
  for (std::size_t i = 1; i <= n; ++i) {
    meter.add(m);
    S ai = a[i - 1];
    current[0] = I(i);
    std::size_t left = i;
    std::size_t last_column = 0;  // the last column of this row matching a[i]
    std::size_t row_corner = 0;   // D[i - 2][last_column - 1]
    for (std::size_t j = 1; j <= m; ++j) {
      S bj = b[j - 1];
      // The cell to the left joins last: the other terms come off the row
      // above, so one cell waits on the last for two operations only.
      std::size_t diagonal = previous[j - 1] + std::size_t(ai != bj);
      std::size_t value = std::min(std::min<std::size_t>(previous[j] + 1, diagonal), left + 1);
      if (ai == bj) {
        last_column = j;
        if (j >= 2) match_corner[j] = previous[j - 2];
        if (i >= 2) row_corner = before[j - 1];
      } else {
        std::size_t k = last_row[bj];
        if (k != 0 && last_column != 0) {
          if (j - last_column == 1) {
            value = std::min<std::size_t>(value, match_corner[j] + (i - k));
          } else if (i - k == 1) {
            value = std::min(value, row_corner + (j - last_column));
          }
        }
      }
      current[j] = I(value);
      left = value;
    }
    last_row[ai] = I(i);
    I* oldest = before;  // overwritten next
    before = previous;
    previous = current;
    current = oldest;
  }
  return previous[m];
}

// Calls f(I{}) with the narrowest cell type that holds every value of a
// programme whose longer text has n characters.
template <class F>
std::uint64_t with_cell_type(std::size_t n, F&& f) {
  if (n < 0xFFFF) return f(std::uint16_t{});
  return f(std::size_t{});
}

// The rows over slots, with the cells on the stack for a short b.
template <class I, class S>
std::uint64_t damerau_levenshtein_cells(std::span<const S> a, std::span<const S> b, I* last_row) {
  constexpr std::size_t kStackColumns = 64;
  if (b.size() <= kStackColumns) {
    I cells[4 * (kStackColumns + 1)];
    return damerau_levenshtein_rows(a, b, last_row, cells);
  }
  std::vector<I> cells(4 * (b.size() + 1));
  return damerau_levenshtein_rows(a, b, last_row, cells.data());
}

// One-byte characters are their own slots, any byte; wider ones are
// numbered in order of appearance in a, and those of b that a lacks share
// one more slot, which no row ever holds.
template <class C>
std::uint64_t damerau_levenshtein_stripped(std::span<const C> a, std::span<const C> b) {
  if (a.size() < b.size()) std::swap(a, b);  // the shorter one along the columns
  if (b.empty()) return a.size();
  return with_cell_type(a.size(), [&]<class I>(I) {
    if constexpr (sizeof(C) == 1) {
      I last_row[256];
      for (C c : a) last_row[c] = 0;
      for (C c : b) last_row[c] = 0;
      return damerau_levenshtein_cells(a, b, last_row);
    } else {
      bitpar::DenseIds ids(a);
      std::vector<std::uint32_t> a_slots(a.size());
      for (std::size_t i = 0; i < a.size(); ++i) a_slots[i] = ids.add(a[i]);
      std::vector<std::uint32_t> b_slots(b.size());
      for (std::size_t j = 0; j < b.size(); ++j) {
        std::uint32_t id = ids.find(b[j]);
        b_slots[j] = id == bitpar::DenseIds::kNone ? ids.count() : id;
      }
      std::vector<I> last_row(ids.count() + 1, 0);
      return damerau_levenshtein_cells(std::span<const std::uint32_t>(a_slots),
                                       std::span<const std::uint32_t>(b_slots), last_row.data());
    }
  });
}

template <class F>
std::uint64_t on_stripped(const CharSpan& a, const CharSpan& b, F&& f) {
  return visit_units(a, [&](auto x) {
    return visit_units(b, [&](auto y) {
      strip_common_affixes(x, y);
      return f(x, y);
    });
  });
}

double similarity(std::uint64_t distance, const CharSpan& a, const CharSpan& b) {
  return levenshtein_similarity_from(distance, std::max(a.length, b.length));
}

}  // namespace

// Flattened, with the long path of osa_stripped its one call out.
[[gnu::flatten]] std::uint64_t osa_distance(const CharSpan& a, const CharSpan& b) {
  return on_stripped(a, b, [](auto x, auto y) {
    return bitpar::with_word_unit_type(x, y, [](auto p, auto q) { return osa_stripped(p, q); });
  });
}

double osa_similarity(const CharSpan& a, const CharSpan& b) {
  return similarity(osa_distance(a, b), a, b);
}

std::uint64_t damerau_levenshtein_distance(const CharSpan& a, const CharSpan& b) {
  return on_stripped(a, b, [](auto x, auto y) {
    auto stripped = [](auto p, auto q) { return damerau_levenshtein_stripped(p, q); };
    // One-byte texts index last_row directly, whatever their bytes.
    if constexpr (sizeof(x[0]) == 1 && sizeof(y[0]) == 1) {
      return stripped(x, y);
    } else {
      return bitpar::with_one_unit_type(x, y, stripped);
    }
  });
}

double damerau_levenshtein_similarity(const CharSpan& a, const CharSpan& b) {
  return similarity(damerau_levenshtein_distance(a, b), a, b);
}

}  // namespace kivo
