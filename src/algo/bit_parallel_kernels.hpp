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

#include "algo/char_map.hpp"
#include "base/bits.hpp"
#include "base/cancel.hpp"

namespace kivo::bitpar {

// OSA distance of a pattern of 1 to 64 characters against a text: Myers'
// column step with one more term in the diagonal-zero vector, the rows where
// a swap of this column's and the previous column's characters reaches the
// diagonal.
template <class Eq, class T>
std::uint64_t osa_word(Eq&& eq, std::size_t m, std::span<const T> text) {
  std::uint64_t vp = ~std::uint64_t(0), vn = 0, d0 = 0, previous = 0;
  std::uint64_t score = m;
  unsigned last = unsigned(m - 1);
  for (std::size_t t = 0; t < text.size();) {
    for (std::size_t piece = cancel::piece_end(t, text.size()); t < piece; ++t) {
      std::uint64_t pm = eq(text[t]);
      std::uint64_t swapped = (((~d0) & pm) << 1) & previous;
      d0 = (((pm & vp) + vp) ^ vp) | pm | vn | swapped;
      std::uint64_t hp = vn | ~(d0 | vp);
      std::uint64_t hn = vp & d0;
      score += (hp >> last) & 1;
      score -= (hn >> last) & 1;
      hp = (hp << 1) | 1;
      hn <<= 1;
      vp = hn | ~(d0 | hp);
      vn = hp & d0;
      previous = pm;
    }
  }
  return score;
}

// The same over any number of words: the column is one wide integer, so the
// addition's carry and every shift move from each word into the next.
template <class T>
std::uint64_t osa_blocks(BlockMasks& masks, std::size_t m, std::span<const T> text) {
  std::size_t words = masks.words();
  std::vector<std::uint64_t> vp(words, ~std::uint64_t(0)), vn(words, 0), d0(words, 0),
      previous(words, 0);
  std::uint64_t score = m;
  unsigned last = unsigned((m - 1) % 64);
  cancel::Meter meter;
  for (T c : text) {
    meter.add(words);
    const std::uint64_t* pm = masks.get(c);
    std::uint64_t add_carry = 0, swap_carry = 0, hp_carry = 1, hn_carry = 0;
    for (std::size_t w = 0; w < words; ++w) {
      std::uint64_t eq = pm[w];
      std::uint64_t unmatched = (~d0[w]) & eq;
      std::uint64_t swapped = ((unmatched << 1) | swap_carry) & previous[w];
      swap_carry = unmatched >> 63;
      std::uint64_t x = eq & vp[w];
      std::uint64_t sum = x + vp[w];
      std::uint64_t carry = sum < x;
      sum += add_carry;
      add_carry = carry | (sum < add_carry);
      std::uint64_t diagonal = (sum ^ vp[w]) | eq | vn[w] | swapped;
      std::uint64_t hp = vn[w] | ~(diagonal | vp[w]);
      std::uint64_t hn = vp[w] & diagonal;
      if (w + 1 == words) {
        score += (hp >> last) & 1;
        score -= (hn >> last) & 1;
      }
      std::uint64_t hp_shifted = (hp << 1) | hp_carry;
      std::uint64_t hn_shifted = (hn << 1) | hn_carry;
      hp_carry = hp >> 63;
      hn_carry = hn >> 63;
      vp[w] = hn_shifted | ~(diagonal | hp_shifted);
      vn[w] = hp_shifted & diagonal;
      d0[w] = diagonal;
      previous[w] = eq;
    }
  }
  return score;
}

// LCS of a pattern of 1 to 64 characters against a text: a zero bit in S
// marks a row where the LCS of the pattern's prefix grows. Each column adds
// the matched bits of S to S, which moves each run's lowest match up to its
// first zero. U is a subset of S, so S - U needs no borrow: S & ~U.
template <class Eq, class T>
std::uint64_t lcs_word(Eq&& eq, std::size_t m, std::span<const T> text) {
  std::uint64_t s = ~std::uint64_t(0);
  for (std::size_t t = 0; t < text.size();) {
    for (std::size_t piece = cancel::piece_end(t, text.size()); t < piece; ++t) {
      std::uint64_t u = s & eq(text[t]);
      s = (s + u) | (s & ~u);
    }
  }
  std::uint64_t rows = m == 64 ? ~std::uint64_t(0) : (std::uint64_t(1) << m) - 1;
  return bits::popcount64(~s & rows);
}

template <class T>
std::uint64_t lcs_blocks(BlockMasks& masks, std::size_t m, std::span<const T> text) {
  std::size_t words = masks.words();
  std::vector<std::uint64_t> s(words, ~std::uint64_t(0));
  cancel::Meter meter;
  for (T c : text) {
    meter.add(words);
    const std::uint64_t* pm = masks.get(c);
    std::uint64_t carry = 0;
    for (std::size_t w = 0; w < words; ++w) {
      std::uint64_t u = s[w] & pm[w];
      std::uint64_t sum = s[w] + u;
      std::uint64_t out = sum < u;
      sum += carry;
      carry = out | (sum < carry);
      s[w] = sum | (s[w] & ~u);
    }
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
