// Texts prepared once for many (the batch scorers' long queries) against the
// plain model and the single calls: every band and bound, texts on either
// side of the pattern's length, and lengths around the word boundaries.
#include <algorithm>
#include <cstdint>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "algo/bit_parallel_band.hpp"
#include "algo/char_histogram.hpp"
#include "algo/jaro_winkler.hpp"
#include "algo/lanes/levenshtein_band.hpp"
#include "algo/levenshtein.hpp"
#include "base/simd.hpp"
#include "harness.hpp"
#include "text_models.hpp"

using namespace kivo;
using namespace kivo::test;

namespace {

constexpr std::uint64_t kNoLimit = std::numeric_limits<std::uint64_t>::max();
const std::size_t kLengths[] = {0, 1, 40, 63, 64, 65, 100, 127, 128, 129, 200, 300};

// Calls check(pattern, text) on pairs around each length: alike texts (a
// few edits apart, so that bands settle them) and unrelated ones.
template <class Check>
void for_each_pair(Check check) {
  Random rng;
  for (std::size_t length : kLengths) {
    for (std::u32string_view alphabet : kAlphabets) {
      std::u32string pattern = random_text(rng, length, alphabet);
      std::u32string alike = pattern;
      for (int k = 0; k < 8; ++k) alike = edited(rng, alike, alphabet);
      check(pattern, alike);
      check(alike, pattern);
      check(pattern,
            random_text(rng, length + rng.below(70) - std::min<std::size_t>(length, 35), alphabet));
      check(pattern, pattern.substr(0, rng.below(length + 1)));
    }
  }
}

}  // namespace

TEST(levenshtein_pattern_is_exact_within_its_bound_and_above_it_beyond) {
  for_each_pair([&](std::u32string_view pattern, std::u32string_view text) {
    LevenshteinPattern prepared(pattern);
    std::uint64_t d = plain_levenshtein(pattern, text);
    for (std::uint64_t most :
         {d, d + 1, d > 0 ? d - 1 : 0, d > 5 ? d - 5 : 0, std::uint64_t(0), std::uint64_t(62),
          std::uint64_t(63), std::uint64_t(64), std::uint64_t(200), kNoLimit}) {
      std::uint64_t got = prepared.distance(text, most);
      if (d <= most) {
        CHECK_EQ(got, d);
      } else {
        CHECK(got > most);
      }
    }
  });
}

TEST(character_counts_never_exceed_the_distance) {
  for_each_pair([&](std::u32string_view pattern, std::u32string_view text) {
    std::uint64_t bound = edit_lower_bound(char_histogram(pattern), char_histogram(text));
    CHECK(bound <= plain_levenshtein(pattern, text));
    CHECK_EQ(bound, edit_lower_bound(char_histogram(text), char_histogram(pattern)));
    // And never fewer characters in common than the texts share.
    std::u32string a(pattern), b(text);
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    std::u32string shared;
    std::set_intersection(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(shared));
    CHECK(common_count_bound(char_histogram(pattern), char_histogram(text)) >= shared.size());
  });
  // Counts past 255 saturate and still bound the distance from below.
  std::u32string many(600, U'a');
  CHECK_EQ(edit_lower_bound(char_histogram(many), char_histogram(U"")), 255u);
  CHECK_EQ(edit_lower_bound(char_histogram(many), char_histogram(many.substr(0, 500))), 0u);
  CHECK(common_count_bound(char_histogram(many), char_histogram(many)) >= 600u);
}

TEST(jaro_winkler_pattern_equals_the_single_call) {
  for_each_pair([&](std::u32string_view pattern, std::u32string_view text) {
    JaroWinklerPattern prepared(pattern);
    double expected = jaro_winkler_similarity(chars_of(pattern), chars_of(text));
    CHECK_EQ(prepared.similarity(text), expected);
    CHECK_EQ(prepared.similarity(text), expected);  // no state left from the last text
  });
}

TEST(levenshtein_band_holds_near_lengths_side_by_side_exactly_within_their_bounds) {
  Random rng;
  for (simd::Isa isa : {simd::Isa::Portable, simd::Isa::Avx2, simd::Isa::Avx512}) {
    if (!simd::supported(isa)) continue;
    std::size_t lanes = lanes::LevenshteinBand::lanes(isa);
    std::vector<std::uint32_t> scratch;
    for (std::size_t length : {65, 100, 128, 129, 200}) {
      for (std::u32string_view alphabet : kAlphabets) {
        // Patterns a few edits from one base, and texts around them.
        std::u32string base = random_text(rng, length, alphabet);
        std::vector<std::u32string> patterns;
        for (std::size_t l = 0; l < lanes; ++l) {
          std::u32string p = base;
          for (std::size_t k = rng.below(30); k > 0; --k) p = edited(rng, p, alphabet);
          patterns.push_back(p);
        }
        std::vector<std::u32string_view> views(patterns.begin(), patterns.end());
        lanes::LevenshteinBand band(views, isa);
        for (int t = 0; t < 6; ++t) {
          std::u32string text = base;
          for (std::size_t k = rng.below(40); k > 0; --k) text = edited(rng, text, alphabet);
          std::uint32_t bounds[8];
          std::uint32_t out[8] = {};
          std::uint32_t want[8];
          std::uint64_t wanted = 0;
          for (std::size_t l = 0; l < lanes; ++l) {
            want[l] = plain_levenshtein(patterns[l], text);
            std::uint64_t gap = patterns[l].size() > text.size() ? patterns[l].size() - text.size()
                                                                 : text.size() - patterns[l].size();
            std::uint32_t choices[] = {want[l], want[l] + 1, want[l] > 0 ? want[l] - 1 : 0, 63,
                                       std::uint32_t(rng.below(64))};
            bounds[l] = std::min<std::uint32_t>(choices[rng.below(5)], 63);
            if (bounds[l] >= gap) wanted |= std::uint64_t(1) << l;
          }
          auto found = band.distances(text, bounds, wanted, out, scratch);
          CHECK((found.left & ~wanted) == 0 && (found.within & ~wanted) == 0);
          for (std::size_t l = 0; l < lanes; ++l) {
            std::uint64_t lane = std::uint64_t(1) << l;
            if ((wanted & ~found.left & lane) == 0) continue;
            CHECK_EQ((found.within & lane) != 0, want[l] <= bounds[l]);
            if (want[l] <= bounds[l]) CHECK_EQ(out[l], want[l]);
          }
        }
      }
    }
  }
}

TEST(levenshtein_band_leaves_the_lanes_its_diagonals_miss_to_the_caller) {
  // The text is base + 10 y. Pattern "x"^50 + base needs diagonals -50 .. 10
  // (delete the x, insert the y); base[20:] needs 0 .. 30. No band of 64
  // holds both, so the band serves the most and leaves the other.
  Random rng;
  std::u32string base = random_text(rng, 120, kAlphabets[1]);
  std::u32string text = base + std::u32string(10, U'y');
  for (simd::Isa isa : {simd::Isa::Portable, simd::Isa::Avx2, simd::Isa::Avx512}) {
    if (!simd::supported(isa)) continue;
    std::vector<std::u32string> patterns = {std::u32string(50, U'x') + base, base};
    while (patterns.size() < lanes::LevenshteinBand::lanes(isa))
      patterns.push_back(base.substr(20));
    std::vector<std::u32string_view> views(patterns.begin(), patterns.end());
    lanes::LevenshteinBand band(views, isa);
    std::uint32_t bounds[8];
    std::uint32_t out[8] = {};
    for (std::size_t l = 0; l < patterns.size(); ++l)
      bounds[l] = plain_levenshtein(patterns[l], text);
    CHECK_EQ(bounds[0], 60u);
    std::vector<std::uint32_t> scratch;
    std::uint64_t all = (std::uint64_t(1) << patterns.size()) - 1;
    auto found = band.distances(text, bounds, all, out, scratch);
    CHECK_EQ(found.left, std::uint64_t(1));
    CHECK_EQ(found.within, all & ~std::uint64_t(1));
    for (std::size_t l = 1; l < patterns.size(); ++l) CHECK_EQ(out[l], bounds[l]);
  }
}

namespace {

// Edits that OSA counts one each: swaps of neighbours, insertions,
// deletions and substitutions.
std::u32string swapped_and_edited(Random& rng, std::u32string text, std::u32string_view alphabet,
                                  std::size_t edits) {
  for (std::size_t k = 0; k < edits; ++k) {
    std::size_t at = rng.below(text.size() + 1);
    char32_t one = random_text(rng, 1, alphabet)[0];
    switch (at + 1 < text.size() ? rng.below(4) : 0) {
      case 0: text.insert(text.begin() + std::ptrdiff_t(at), one); break;
      case 1: std::swap(text[at], text[at + 1]); break;
      case 2: text[at] = one; break;
      default: text.erase(at, 1);
    }
  }
  return text;
}

// Each band of Steps, from every bound up to past the texts' lengths: the
// distance when it is within the bound, never less than the distance, and
// above the limit (or kNoBound) when the pass is asked to stop there.
template <class Steps, class Plain>
void check_bands(bool& kivo_ok, Plain plain) {
  Random rng;
  for (std::size_t length : {65, 100, 127, 128, 129, 200, 300}) {
    for (std::u32string_view alphabet : kAlphabets) {
      std::u32string pattern = random_text(rng, length, alphabet);
      bitpar::BlockMasks masks{std::span<const char32_t>(pattern)};
      for (std::size_t edits : {1, 5, 20, 31, 32, 33, 62, 63, 64, 65, 100}) {
        std::u32string text = swapped_and_edited(rng, pattern, alphabet, edits);
        std::span<const char32_t> t(text);
        std::uint64_t d = plain(pattern, text);
        std::uint64_t gap = text.size() > length ? text.size() - length : length - text.size();
        if (gap <= 63) {
          std::uint64_t got = bitpar::distance_diagonal<Steps>(length, t, masks, bitpar::kNoBound);
          CHECK(d <= 63 ? got == d : got >= d);
          std::uint64_t limit = std::min<std::uint64_t>(d > 0 ? d - 1 : 0, 63);
          got = bitpar::distance_diagonal<Steps>(length, t, masks, limit);
          CHECK(d <= limit ? got == d : got > limit);
        }
        for (std::uint64_t k :
             {gap, gap + 1, d > 1 ? d - 1 : gap, d, d + 1, d + 2, std::uint64_t(64), 2 * d + 1,
              std::uint64_t(length + text.size())}) {
          k = std::max(k, gap);
          std::uint64_t got = bitpar::distance_banded<Steps>(length, t, masks, k, bitpar::kNoBound);
          CHECK(d <= k ? got == d : got >= d);
          got = bitpar::distance_banded<Steps>(length, t, masks, k, k);
          CHECK(d <= k ? got == d : got > k);
        }
        CHECK_EQ(bitpar::distance_long<Steps>(length, t, masks), d);
      }
    }
  }
}

}  // namespace

TEST(levenshtein_bands_are_exact_within_their_bounds) {
  check_bands<bitpar::MyersSteps>(kivo_ok, plain_levenshtein);
}

TEST(osa_bands_are_exact_within_their_bounds_swaps_at_their_edges_included) {
  check_bands<bitpar::OsaSteps>(kivo_ok, plain_osa);
}
