// Bands of the edit-distance programme for patterns of any length: only the
// diagonals that an alignment of cost <= k can use are computed, in words
// that follow them down the columns. Written once over a step: Myers' for
// Levenshtein, or Hyyrö's OSA step, whose swap at cell (i, j) reaches back
// along its own diagonal to (i - 2, j - 2) and so never leaves a band.
//
// Both rest on two facts of either programme: values never fall along a
// diagonal, and an alignment of cost d stays within the diagonals |i - j| <=
// d. Cells at the band's edges start from overestimates (a row entering it
// at +1 over the one above, +1 across the row above it), so every computed
// value is the cost of some alignment, and a cell that an alignment of cost
// <= k reaches within the band gets its exact value.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "algo/bit_parallel.hpp"
#include "algo/bit_parallel_kernels.hpp"
#include "algo/char_map.hpp"
#include "base/bits.hpp"
#include "base/cancel.hpp"

namespace kivo::bitpar {

// A pass that gives up once its result must exceed its limit returns this,
// for a caller with no use for bounds above the limit.
inline constexpr std::uint64_t kNoBound = ~std::uint64_t(0);

// Bit `index` (the row less one) of a character's masks; 0 past the words.
inline std::uint64_t mask_bit(const std::uint64_t* row, std::size_t words, std::uint64_t index) {
  std::size_t w = std::size_t(index / 64);
  return w < words ? (row[w] >> (index % 64)) & 1 : 0;
}

// Rows top .. top + 63 of a character's masks, row top in bit 0.
inline std::uint64_t mask_window(const std::uint64_t* row, std::size_t words, std::uint64_t top) {
  std::uint64_t shift = (top - 1) % 64;
  std::size_t w = std::size_t((top - 1) / 64);
  std::uint64_t eq = row[w] >> shift;
  if (shift != 0 && w + 1 < words) eq |= row[w + 1] << (64 - shift);
  return eq;
}

// The value `rows` (< 64) rows below one whose value is `value`, in a word of
// vertical deltas whose bit 0 is that row.
inline std::uint64_t value_below(std::uint64_t value, std::uint64_t pv, std::uint64_t mv,
                                 std::uint64_t rows) {
  std::uint64_t under = rows == 0 ? 0 : (~std::uint64_t(0) >> (64 - rows)) << 1;
  return value + bits::popcount64(pv & under) - bits::popcount64(mv & under);
}

// Myers' step, in the two shapes of band: one word sliding down the diagonal
// (Diagonal), and words fixed to rows 64w + 1 .. 64w + 64 (Word).
struct MyersSteps {
  struct Diagonal {
    std::uint64_t pv = ~std::uint64_t(0);
    std::uint64_t mv = 0;

    // Down one row: the value moves to the second row, the deltas shift,
    // and a new bottom row comes in at +1.
    void down(std::uint64_t& value) {
      value += (pv >> 1) & 1;
      value -= (mv >> 1) & 1;
      pv = (pv >> 1) | (std::uint64_t(1) << 63);
      mv >>= 1;
    }

    // Column j, the word on rows top .. top + 63; value follows the top row.
    void step(const std::uint64_t* row, std::size_t words, std::uint64_t top,
              std::uint64_t& value) {
      std::uint64_t eq = mask_window(row, words, top);
      std::uint64_t xv = eq | mv;
      std::uint64_t xh = (((eq & pv) + pv) ^ pv) | eq;
      std::uint64_t hp = mv | ~(xh | pv);
      std::uint64_t hn = pv & xh;
      value += hp & 1;
      value -= hn & 1;
      hp = (hp << 1) | 1;  // +1 from the row above the word
      hn <<= 1;
      pv = hn | ~(xv | hp);
      mv = hp & xv;
    }
  };

  using Word = Column;
  struct Carries {
    std::uint64_t p = 1, n = 0;  // +1 across the row above the band
  };

  static void step(Word& word, std::uint64_t eq, Carries& c) { word.step(eq, c.p, c.n); }
  static void last_step(Word& word, std::uint64_t eq, Carries& c, unsigned last,
                        std::uint64_t& score) {
    last_word_step(word, eq, c.p, c.n, last, score);
  }
  // A word entering the band below; `previous_top` is bit 0 of its masks in
  // the previous column.
  static Word entering(std::uint64_t) { return Word{}; }
  // The carries into the band's first word, given the word above it in the
  // previous column and this column's masks for it when that word just left.
  static Carries from_above(const Word*, std::uint64_t) { return {}; }

  template <class T>
  static std::uint64_t full(std::uint64_t m, std::span<const T> text, BlockMasks& masks) {
    return distance_blocks(m, text, masks);
  }
};

// The OSA step. A swap into row i of column j reads whether (i - 1, j - 1)
// left its diagonal unchanged, this column's mask at row i - 1 and the
// previous column's at row i; at the band's edges those rows lie outside the
// word and are carried in: the old top row's flag and this column's mask
// above the word when it slides, the previous column's mask for the row
// entering below.
struct OsaSteps {
  struct Diagonal {
    std::uint64_t pv = ~std::uint64_t(0);
    std::uint64_t mv = 0;
    std::uint64_t d0 = ~std::uint64_t(0);  // no swap out of column 0
    std::uint64_t previous = 0;            // the previous column's masks
    std::uint64_t previous_below = 0;      // and its mask for the row below the word
    std::uint64_t unmatched_above = 0;     // the row above: no zero-delta diagonal

    void down(std::uint64_t& value) {
      value += (pv >> 1) & 1;
      value -= (mv >> 1) & 1;
      pv = (pv >> 1) | (std::uint64_t(1) << 63);
      mv >>= 1;
      unmatched_above = ~d0 & 1;
      d0 = (d0 >> 1) | (std::uint64_t(1) << 63);  // the new row has no computed past
      previous = (previous >> 1) | (previous_below << 63);
    }

    void step(const std::uint64_t* row, std::size_t words, std::uint64_t top,
              std::uint64_t& value) {
      std::uint64_t eq = mask_window(row, words, top);
      std::uint64_t above = top >= 2 ? unmatched_above & mask_bit(row, words, top - 2) : 0;
      std::uint64_t zero = eq | ((((~d0 & eq) << 1) | above) & previous);  // as osa_word_step
      std::uint64_t diagonal = (((zero & pv) + pv) ^ pv) | zero | mv;
      std::uint64_t hp = mv | ~(diagonal | pv);
      std::uint64_t hn = pv & diagonal;
      value += hp & 1;
      value -= hn & 1;
      hp = (hp << 1) | 1;
      hn <<= 1;
      pv = hn | ~(diagonal | hp);
      mv = hp & diagonal;
      d0 = diagonal;
      previous = eq;
      previous_below = mask_bit(row, words, top + 63);
      unmatched_above = 0;
    }
  };

  using Word = OsaWord;
  using Carries = OsaCarries;

  static void step(Word& word, std::uint64_t eq, Carries& c) {
    std::uint64_t hp, hn;
    osa_word_step(word, eq, c, hp, hn);
  }
  static void last_step(Word& word, std::uint64_t eq, Carries& c, unsigned last,
                        std::uint64_t& score) {
    std::uint64_t hp, hn;
    osa_word_step(word, eq, c, hp, hn);
    score += (hp >> last) & 1;
    score -= (hn >> last) & 1;
  }
  // Only the entering word's top row is in the band; the rest has no
  // computed past to swap from.
  static Word entering(std::uint64_t previous_top) {
    Word word;
    word.d0 = ~std::uint64_t(0);
    word.previous = previous_top;
    return word;
  }
  static Carries from_above(const Word* above, std::uint64_t eq) {
    Carries c;
    if (above != nullptr) c.swap = ((~above->d0) & eq) >> 63;
    return c;
  }

  template <class T>
  static std::uint64_t full(std::uint64_t m, std::span<const T> text, BlockMasks& masks) {
    return osa_blocks(masks, std::size_t(m), text);
  }
};

// The least value at the bottom rows of the live words [first, last],
// walking up from the last one's: each word's rows add up its deltas.
template <class Word>
std::uint64_t lowest_bottom(const std::vector<Word>& columns, std::size_t first, std::size_t last,
                            std::size_t words, unsigned last_bit, std::uint64_t bottom_value) {
  std::uint64_t lowest = bottom_value;
  for (std::size_t w = last; w > first; --w) {
    std::uint64_t rows = w + 1 == words && last_bit < 63 ? (std::uint64_t(1) << (last_bit + 1)) - 1
                                                         : ~std::uint64_t(0);
    bottom_value = bottom_value + bits::popcount64(columns[w].mv & rows) -
                   bits::popcount64(columns[w].pv & rows);
    lowest = std::min(lowest, bottom_value);
  }
  return lowest;
}

// The distance restricted to the diagonals a path of cost <= k can use (|d|
// <= k for d = n - m, the text's length less the pattern's): only the words
// that hold such rows are computed, a word entering the band starting from
// its upper neighbour's value plus one per row. The result is an upper bound
// of the distance, and the distance itself whenever that is at most k.
//
// The alignment behind the result meets every column at a computed cell, or
// swaps across it from a cell whose diagonal neighbour in that column is no
// dearer than the swap's end; values never fall along it. Values within a
// word differ from its bottom row's by at most 63, so once every live word's
// bottom exceeds limit + 64, past column limit, the result will exceed limit:
// the pass gives up and returns kNoBound.
template <class Steps, class T>
std::uint64_t distance_banded(std::uint64_t m, std::span<const T> text, BlockMasks& masks,
                              std::uint64_t k, std::uint64_t limit) {
  using Word = typename Steps::Word;
  std::size_t words = masks.words();
  std::uint64_t d = text.size() - m;  // modulo 2^64: the formulas below hold for n < m too
  std::uint64_t above = (d + k) / 2;  // rows i >= j - above
  std::uint64_t below = (k - d) / 2;  // rows i <= j + below
  unsigned last_bit = unsigned((m - 1) % 64);
  std::vector<Word> columns(words);
  std::size_t first = 0;
  std::size_t last = 0;  // words [first, last] are live
  // Only the value at the bottom row of the last live word is tracked; the
  // other words' bottoms follow from it and the vertical deltas when needed.
  std::uint64_t bottom_value = words == 1 ? m : 64;
  std::uint64_t previous_below = 0;  // the previous column's mask at the row below the band's words
  std::uint64_t j = 0;
  cancel::Meter meter;
  for (T c : text) {
    ++j;
    meter.add(last - first + 1);
    if (j % 64 == 0 && j > limit) {
      std::uint64_t lowest = lowest_bottom(columns, first, last, words, last_bit, bottom_value);
      if (lowest > limit && lowest - limit > 64) return kNoBound;
    }
    std::uint64_t row_lo = j > above ? j - above : 1;
    std::uint64_t row_hi = std::min(m, j + below);
    std::size_t want_first = std::size_t((row_lo - 1) / 64);
    std::size_t want_last = std::size_t((row_hi - 1) / 64);
    while (last < want_last) {
      ++last;
      columns[last] = Steps::entering(previous_below);
      previous_below = 0;  // a second word entering at once: the first column
      bottom_value += last + 1 == words ? last_bit + 1 : 64;
    }
    const std::uint64_t* eq = masks.get(c);
    const Word* left = nullptr;  // the word that just left the band above
    if (want_first > first) {
      first = want_first;
      left = &columns[first - 1];
    }
    typename Steps::Carries carries = Steps::from_above(left, left ? eq[first - 1] : 0);
    for (std::size_t w = first; w < last; ++w) Steps::step(columns[w], eq[w], carries);
    Steps::last_step(columns[last], eq[last], carries, last + 1 == words ? last_bit : 63,
                     bottom_value);
    previous_below = last + 1 < words ? eq[last + 1] & 1 : 0;
  }
  return bottom_value;
}

// The same for k = 63 in one word that slides down the diagonal: at column
// j, bit t holds row top + t with top = max(1, j - above), so the word always
// covers the band. `value` follows the top row: D[top][j].
//
// With limit <= k, the pass also gives up once the value where this column
// meets the diagonal through (m, n) exceeds limit: values never fall along a
// diagonal, and a cell of cost <= k is reached within the band, so its value
// is exact.
template <class Steps, class T>
std::uint64_t distance_diagonal(std::uint64_t m, std::span<const T> text, BlockMasks& masks,
                                std::uint64_t limit) {
  constexpr std::uint64_t k = 63;
  std::size_t words = masks.words();
  std::uint64_t n = text.size();
  std::uint64_t d = n - m;  // |n - m| <= k, modulo 2^64 as in distance_banded
  std::uint64_t above = (d + k) / 2;
  typename Steps::Diagonal band;
  std::uint64_t value = 1;  // D[1][0]
  std::uint64_t top = 1;
  std::uint64_t j = 0;
  cancel::Meter meter;
  for (T c : text) {
    ++j;
    meter.add();
    if (j > above + 1) {
      band.down(value);
      ++top;
      // Every row of the word lies within 63 of the top one.
      if (j % 64 == 0 && j > limit && value > limit + 127) return kNoBound;
    }
    band.step(masks.get(c), words, top, value);
    if (limit <= k && j % 8 == 0 && j + m >= n + top) {
      std::uint64_t rows = j + m - n - top;  // the diagonal's row, below the top one
      if (rows <= 63 && value_below(value, band.pv, band.mv, rows) > limit) return kNoBound;
    }
  }
  // Row m is bit m - top; add the deltas from the top row down to it.
  return value_below(value, band.pv, band.mv, m - top);  // at most 63 rows down
}

// The distance between a pattern of m > 0 characters and a text of any
// length. A narrow band first: when the texts are alike it already gives the
// distance, and otherwise an upper bound that sizes the second band.
template <class Steps, class T>
std::uint64_t distance_long(std::uint64_t m, std::span<const T> text, BlockMasks& masks) {
  std::uint64_t d = text.size() > m ? text.size() - m : m - text.size();
  // A band of about k rows costs k / 64 + 2 words per column, with more
  // bookkeeping per word than the full columns, which also run two columns
  // at once; past about two thirds of the pattern the full columns are cheaper.
  auto narrow_enough = [m](std::uint64_t k) { return k < m && (k + 128) * 3 < m * 2; };
  std::uint64_t widest = m * 2 / 3 > 128 ? m * 2 / 3 - 128 : 0;  // about the last narrow k
  std::uint64_t k = d <= 63 ? 63 : d + 64;
  if (!narrow_enough(k)) return Steps::full(m, text, masks);
  std::uint64_t limit = std::max(k, widest);
  std::uint64_t bound = k == 63 ? distance_diagonal<Steps>(m, text, masks, limit)
                                : distance_banded<Steps>(m, text, masks, k, limit);
  if (bound <= k) return bound;
  if (!narrow_enough(bound)) return Steps::full(m, text, masks);
  return distance_banded<Steps>(m, text, masks, bound, kNoBound);
}

template <class Steps, class P, class T>
std::uint64_t distance_long(std::span<const P> pattern, std::span<const T> text) {
  BlockMasks masks(pattern);
  if constexpr (sizeof(T) > 1) {
    // Non-ASCII text is translated into table rows once, so that the passes
    // below do not hash every character again.
    if (masks.lookups_stable()) {
      std::vector<BlockMasks::Row> rows(text.size());
      for (std::size_t i = 0; i < text.size();) {
        for (std::size_t piece = cancel::piece_end(i, text.size()); i < piece; ++i) {
          rows[i] = masks.row(text[i]);
        }
      }
      return distance_long<Steps>(pattern.size(), std::span<const BlockMasks::Row>(rows), masks);
    }
  }
  return distance_long<Steps>(pattern.size(), text, masks);
}

}  // namespace kivo::bitpar
