// Bit-parallel kernels over a pattern's position masks, beside Myers' in
// bit_parallel.hpp: optimal string alignment (Hyyrö 2003) and the longest
// common subsequence (Allison and Dix; Hyyrö). The pattern runs down the
// rows, 64 per word; `eq(c)` gives the mask of character c for a pattern of
// at most 64 characters, BlockMasks the words of a longer one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "algo/char_map.hpp"
#include "base/bits.hpp"
#include "base/cancel.hpp"

namespace kivo::bitpar {

// The distance at the foot of the last column of n, for a pattern of 1 to
// 64 rows: the top row holds n, and each row adds its vertical delta, +1
// where `plus` has the row's bit and -1 where `minus` has it. Counting once
// at the end keeps the score's upkeep out of every column.
[[gnu::always_inline]] inline std::uint64_t last_column_score(std::size_t n, std::size_t m,
                                                              std::uint64_t plus,
                                                              std::uint64_t minus) {
  std::uint64_t rows = m == 64 ? ~std::uint64_t(0) : (std::uint64_t(1) << m) - 1;
  return n + bits::popcount64(plus & rows) - bits::popcount64(minus & rows);
}

// OSA distance of a pattern of 1 to 64 characters against a text: Myers'
// column step with one more term in the diagonal-zero vector, the rows where
// a swap of this column's and the previous column's characters reaches the
// diagonal. The step keeps the complement of the positive horizontal deltas,
// which De Morgan turns into fewer operations on the chain from one column's
// vertical deltas to the next's.
template <class Eq, class T>
[[gnu::always_inline]] inline std::uint64_t osa_word(Eq&& eq, std::size_t m,
                                                     std::span<const T> text) {
  std::uint64_t vp = ~std::uint64_t(0), vn = 0, d0 = 0, previous = 0;
  for (std::size_t t = 0; t < text.size();) {
    for (std::size_t piece = cancel::piece_end(t, text.size()); t < piece; ++t) {
      std::uint64_t pm = eq(text[t]);
      std::uint64_t swapped = (((~d0) & pm) << 1) & previous;
      std::uint64_t off_chain = pm | vn | swapped;
      std::uint64_t carried = ((pm & vp) + vp) ^ vp;
      d0 = carried | off_chain;
      // d0 | vp, with the terms known before the addition joined first.
      std::uint64_t not_hp = (carried | (off_chain | vp)) & ~vn;
      std::uint64_t hn = vp & d0;
      std::uint64_t not_hp_shifted = not_hp << 1;  // the top row grows by one per column
      vp = (hn << 1) | (~d0 & not_hp_shifted);
      vn = d0 & ~not_hp_shifted;
      previous = pm;
    }
  }
  return last_column_score(text.size(), m, vp, vn);
}

// a + b + carry, and the carry out: one add-with-carry, so that a column's
// words wait on each other for a cycle each.
inline std::uint64_t add_carry(std::uint64_t a, std::uint64_t b, unsigned char& carry) {
#if defined(__x86_64__)
  unsigned long long sum;
  carry = _addcarry_u64(carry, a, b, &sum);
  return sum;
#else
  std::uint64_t sum = a + b;
  unsigned char out = sum < a;
  sum += carry;
  carry = out | (sum < carry);
  return sum;
#endif
}

// One word of an OSA column over many words: the column is one wide integer,
// so the addition's carry and every shift move from each word into the next.
struct OsaWord {
  std::uint64_t pv = ~std::uint64_t(0), mv = 0, d0 = 0, previous = 0;
};

// What moves from one word of a column into the next.
struct OsaCarries {
  unsigned char add = 0;
  std::uint64_t swap = 0, hp = 1, hn = 0;  // the top row grows by one per column
};

// Steps a word; returns its horizontal deltas before the shift, in hp and hn.
// A swap's zero-delta diagonal also runs down the column like a match's:
// within a whole programme the row below a swap never needs it (it matched
// in the previous column), but a band's rows entering at +1 do.
inline void osa_word_step(OsaWord& word, std::uint64_t eq, OsaCarries& c, std::uint64_t& hp,
                          std::uint64_t& hn) {
  std::uint64_t unmatched = (~word.d0) & eq;
  std::uint64_t swapped = ((unmatched << 1) | c.swap) & word.previous;
  c.swap = unmatched >> 63;
  std::uint64_t zero = eq | swapped;
  std::uint64_t sum = add_carry(zero & word.pv, word.pv, c.add);
  std::uint64_t diagonal = (sum ^ word.pv) | zero | word.mv;
  hp = word.mv | ~(diagonal | word.pv);
  hn = word.pv & diagonal;
  std::uint64_t hp_shifted = (hp << 1) | c.hp;
  std::uint64_t hn_shifted = (hn << 1) | c.hn;
  c.hp = hp >> 63;
  c.hn = hn >> 63;
  word.pv = hn_shifted | ~(diagonal | hp_shifted);
  word.mv = hp_shifted & diagonal;
  word.d0 = diagonal;
  word.previous = eq;
}

// The same over any number of words. Two columns run in one pass over the
// words, as in distance_blocks, when the masks stay valid across lookups.
template <class T>
std::uint64_t osa_blocks(BlockMasks& masks, std::size_t m, std::span<const T> text) {
  std::size_t words = masks.words();
  std::vector<OsaWord> column(words);
  std::uint64_t score = m;
  unsigned last = unsigned((m - 1) % 64);
  auto count = [&](std::uint64_t hp, std::uint64_t hn) {
    score += (hp >> last) & 1;
    score -= (hn >> last) & 1;
  };
  std::size_t t = 0;
  cancel::Meter meter;
  std::uint64_t hp = 0, hn = 0, hp2 = 0, hn2 = 0;  // the last word's
  if (masks.lookups_stable()) {
    for (; t + 2 <= text.size(); t += 2) {
      meter.add(2 * words);
      const std::uint64_t* eq1 = masks.get(text[t]);
      const std::uint64_t* eq2 = masks.get(text[t + 1]);
      OsaCarries c1, c2;
      for (std::size_t w = 0; w < words; ++w) {
        OsaWord word = column[w];  // in registers: the masks might alias it otherwise
        osa_word_step(word, eq1[w], c1, hp, hn);
        osa_word_step(word, eq2[w], c2, hp2, hn2);
        column[w] = word;
      }
      count(hp, hn);
      count(hp2, hn2);
    }
  }
  for (; t < text.size(); ++t) {
    meter.add(words);
    const std::uint64_t* eq = masks.get(text[t]);
    OsaCarries c;
    for (std::size_t w = 0; w < words; ++w) {
      OsaWord word = column[w];
      osa_word_step(word, eq[w], c, hp, hn);
      column[w] = word;
    }
    count(hp, hn);
  }
  return score;
}

// LCS of a pattern of 1 to 64 characters against a text: a zero bit in S
// marks a row where the LCS of the pattern's prefix grows. Each column adds
// the matched bits of S to S, which moves each run's lowest match up to its
// first zero. U is a subset of S, so S - U needs no borrow: S & ~U, which is
// S & ~eq, one step shorter on the chain from S to S.
template <class Eq, class T>
[[gnu::always_inline]] inline std::uint64_t lcs_word(Eq&& eq, std::size_t m,
                                                     std::span<const T> text) {
  std::uint64_t s = ~std::uint64_t(0);
  for (std::size_t t = 0; t < text.size();) {
    for (std::size_t piece = cancel::piece_end(t, text.size()); t < piece; ++t) {
      std::uint64_t matched = eq(text[t]);
      s = (s + (s & matched)) | (s & ~matched);
    }
  }
  std::uint64_t rows = m == 64 ? ~std::uint64_t(0) : (std::uint64_t(1) << m) - 1;
  return bits::popcount64(~s & rows);
}

// One word of an LCS column over many words, its carry moving into the next.
inline std::uint64_t lcs_word_step(std::uint64_t s, std::uint64_t eq, unsigned char& carry) {
  return add_carry(s, s & eq, carry) | (s & ~eq);
}

// The same over any number of words, two columns per pass as osa_blocks.
template <class T>
std::uint64_t lcs_blocks(BlockMasks& masks, std::size_t m, std::span<const T> text) {
  std::size_t words = masks.words();
  std::vector<std::uint64_t> s(words, ~std::uint64_t(0));
  std::size_t t = 0;
  cancel::Meter meter;
  if (masks.lookups_stable()) {
    for (; t + 2 <= text.size(); t += 2) {
      meter.add(2 * words);
      const std::uint64_t* eq1 = masks.get(text[t]);
      const std::uint64_t* eq2 = masks.get(text[t + 1]);
      unsigned char c1 = 0, c2 = 0;
      for (std::size_t w = 0; w < words; ++w) {
        s[w] = lcs_word_step(lcs_word_step(s[w], eq1[w], c1), eq2[w], c2);
      }
    }
  }
  for (; t < text.size(); ++t) {
    meter.add(words);
    const std::uint64_t* pm = masks.get(text[t]);
    unsigned char carry = 0;
    for (std::size_t w = 0; w < words; ++w) s[w] = lcs_word_step(s[w], pm[w], carry);
  }
  std::uint64_t found = 0;
  for (std::size_t w = 0; w < words; ++w) {
    std::size_t rows_here = std::min<std::size_t>(64, m - w * 64);
    std::uint64_t rows = rows_here == 64 ? ~std::uint64_t(0) : (std::uint64_t(1) << rows_here) - 1;
    found += bits::popcount64(~s[w] & rows);
  }
  return found;
}

}  // namespace kivo::bitpar
