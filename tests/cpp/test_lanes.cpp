// The many-patterns-at-once kernels against plain models, on every
// instruction set this processor has (and so against each other), at every
// lane width and lane count, across the lengths where lanes change.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "algo/indel.hpp"
#include "algo/jaro_winkler.hpp"
#include "algo/lanes/jaro_winkler_lanes.hpp"
#include "algo/lanes/lcs_lanes.hpp"
#include "algo/lanes/levenshtein_lanes.hpp"
#include "algo/lanes/osa_lanes.hpp"
#include "algo/score_arithmetic.hpp"
#include "algo/transpositions.hpp"
#include "harness.hpp"
#include "text/char_span.hpp"
#include "text_models.hpp"

using namespace kivo;
using namespace kivo::lanes;
using namespace kivo::test;

namespace {

// Calls check(patterns, texts, isa) for blocks of every lane count on every
// supported instruction set, with patterns up to each lane boundary.
template <class Check>
void for_each_block(Check check) {
  Random rng;
  for (Isa isa : {Isa::Portable, Isa::Avx2, Isa::Avx512}) {
    if (!simd::supported(isa)) continue;
    for (std::size_t longest : {0u, 1u, 8u, 15u, 16u, 17u, 31u, 32u, 33u, 63u, 64u}) {
      std::size_t lanes = shape_for(isa, longest).lanes;
      for (std::size_t count = 1; count <= lanes; ++count) {
        std::u32string_view alphabet = kAlphabets[rng.below(std::size(kAlphabets))];
        std::vector<std::u32string> owned;
        for (std::size_t l = 0; l < count; ++l) {
          owned.push_back(random_text(rng, l == 0 ? longest : rng.below(longest + 1), alphabet));
        }
        std::vector<std::u32string> texts = {random_text(rng, rng.below(71), alphabet),
                                             edited(rng, owned.back(), alphabet),
                                             random_text(rng, rng.below(65), U"ab")};
        std::vector<std::u32string_view> patterns(owned.begin(), owned.end());
        check(patterns, texts, isa);
      }
    }
  }
}

}  // namespace

TEST(levenshtein_lanes_match_the_plain_model) {
  Random rng;
  for_each_block([&](const std::vector<std::u32string_view>& patterns,
                     const std::vector<std::u32string>& texts, Isa isa) {
    LevenshteinBlock block(patterns, isa);
    CHECK_EQ(block.size(), patterns.size());
    for (const std::u32string& text : texts) {
      std::vector<std::uint32_t> expected, bounds, exact(patterns.size()), bounded(patterns.size());
      for (std::u32string_view p : patterns) {
        std::uint32_t d = plain_levenshtein(p, text);
        // Bounds at, just below and just above the distance, or small.
        std::uint32_t bound =
            std::uint32_t(std::max<std::int64_t>(0, std::int64_t(d) - 2 + rng.below(5)));
        if (rng.below(4) == 0) bound = std::uint32_t(rng.below(3));
        expected.push_back(d);
        bounds.push_back(bound);
      }
      block.distances(text, exact.data());
      CHECK_EQ(exact, expected);
      // Two texts side by side: each as if alone.
      std::u32string_view other = texts[rng.below(texts.size())];
      std::vector<std::uint32_t> first(patterns.size()), second(patterns.size()),
          alone(patterns.size());
      block.distances(text, other, first.data(), second.data());
      block.distances(other, alone.data());
      CHECK_EQ(first, expected);
      CHECK_EQ(second, alone);
      auto within = [&](std::uint32_t bound, std::size_t l) { return expected[l] <= bound; };
      std::uint64_t lanes = block.distances(text, bounds.data(), bounded.data());
      for (std::size_t l = 0; l < patterns.size(); ++l) {
        CHECK_EQ(bounded[l], std::min(expected[l], bounds[l] + 1));
        CHECK_EQ((lanes >> l) & 1, std::uint64_t(within(bounds[l], l)));
      }
      lanes = block.distances(text, bounds[0], bounded.data());
      for (std::size_t l = 0; l < patterns.size(); ++l) {
        CHECK_EQ(bounded[l], std::min(expected[l], bounds[0] + 1));
        CHECK_EQ((lanes >> l) & 1, std::uint64_t(within(bounds[0], l)));
      }
    }
  });
}

// Past 2^14 columns the 16-bit lanes no longer hold the bound checks' values.
TEST(levenshtein_lanes_take_texts_longer_than_the_lane_counters) {
  Random rng;
  std::u32string text = random_text(rng, 20000, U"abc");
  std::vector<std::u32string> owned = {text.substr(0, 16), U"", U"cab"};
  std::vector<std::u32string_view> patterns(owned.begin(), owned.end());
  for (Isa isa : {Isa::Portable, Isa::Avx2, Isa::Avx512}) {
    if (!simd::supported(isa)) continue;
    LevenshteinBlock block(patterns, isa);
    std::uint32_t out[3], bounded[3];
    std::uint32_t bounds[3] = {19983, 19999, 19999};  // the first two just below their distances
    block.distances(text, out);
    std::uint64_t within = block.distances(text, bounds, bounded);
    for (std::size_t l = 0; l < 3; ++l) {
      std::uint32_t d = plain_levenshtein(patterns[l], text);
      CHECK_EQ(out[l], d);
      CHECK_EQ(bounded[l], std::min(d, bounds[l] + 1));
      CHECK_EQ((within >> l) & 1, std::uint64_t(d <= bounds[l]));
    }
  }
}

TEST(jaro_winkler_lanes_equal_the_single_pair_measure_in_either_order) {
  for_each_block([&](const std::vector<std::u32string_view>& patterns,
                     const std::vector<std::u32string>& texts, Isa isa) {
    JaroWinklerBlock block(patterns, isa);
    for (const std::u32string& text : texts) {
      if (!fits_lanes(text.size())) continue;
      std::vector<double> got(patterns.size());
      block.similarities(text, got.data());
      for (std::size_t l = 0; l < patterns.size(); ++l) {
        CharSpan a = chars_of(patterns[l]), b = chars_of(text);
        CHECK_EQ(got[l], jaro_winkler_similarity(a, b));
        CHECK_EQ(got[l], jaro_winkler_similarity(b, a));
      }
    }
  });
}

TEST(osa_lanes_equal_the_single_pair_distance_with_and_without_bounds) {
  Random rng;
  for_each_block([&](const std::vector<std::u32string_view>& patterns,
                     const std::vector<std::u32string>& texts, Isa isa) {
    OsaBlock block(patterns, isa);
    CHECK_EQ(block.size(), patterns.size());
    for (const std::u32string& text : texts) {
      std::size_t count = patterns.size();
      std::vector<std::uint32_t> expected, bounds, exact(count), bounded(count);
      for (std::u32string_view p : patterns) {
        auto d = std::uint32_t(osa_distance(chars_of(p), chars_of(text)));
        std::uint32_t bound =
            std::uint32_t(std::max<std::int64_t>(0, std::int64_t(d) - 2 + rng.below(5)));
        if (rng.below(4) == 0) bound = std::uint32_t(rng.below(3));
        expected.push_back(d);
        bounds.push_back(bound);
      }
      block.distances(text, exact.data());
      CHECK_EQ(exact, expected);
      std::u32string_view other = texts[rng.below(texts.size())];
      std::vector<std::uint32_t> first(count), second(count), alone(count);
      block.distances(text, other, first.data(), second.data());
      block.distances(other, alone.data());
      CHECK_EQ(first, expected);
      CHECK_EQ(second, alone);
      std::uint64_t lanes = block.distances(text, bounds.data(), bounded.data());
      for (std::size_t l = 0; l < count; ++l) {
        CHECK_EQ(bounded[l], std::min(expected[l], bounds[l] + 1));
        CHECK_EQ((lanes >> l) & 1, std::uint64_t(expected[l] <= bounds[l]));
      }
    }
  });
}

TEST(lcs_lanes_equal_the_single_pair_length_with_and_without_needs) {
  Random rng;
  for_each_block([&](const std::vector<std::u32string_view>& patterns,
                     const std::vector<std::u32string>& texts, Isa isa) {
    LcsBlock block(patterns, isa);
    CHECK_EQ(block.size(), patterns.size());
    for (const std::u32string& text : texts) {
      std::size_t count = patterns.size();
      std::vector<std::uint32_t> expected, needs, exact(count), got(count);
      for (std::u32string_view p : patterns) {
        auto lcs = std::uint32_t(lcs_length(chars_of(p), chars_of(text)));
        // Needs at, just below and just above the LCS, or anywhere.
        std::uint32_t need =
            std::uint32_t(std::max<std::int64_t>(0, std::int64_t(lcs) - 2 + rng.below(5)));
        if (rng.below(4) == 0) need = std::uint32_t(rng.below(70));
        expected.push_back(lcs);
        needs.push_back(need);
      }
      block.lengths(text, exact.data());
      CHECK_EQ(exact, expected);
      std::u32string_view other = texts[rng.below(texts.size())];
      std::vector<std::uint32_t> first(count), second(count), alone(count);
      block.lengths(text, other, first.data(), second.data());
      block.lengths(other, alone.data());
      CHECK_EQ(first, expected);
      CHECK_EQ(second, alone);
      std::uint64_t lanes = block.lengths(text, needs.data(), got.data());
      for (std::size_t l = 0; l < count; ++l) {
        bool reached = expected[l] >= needs[l];
        CHECK_EQ((lanes >> l) & 1, std::uint64_t(reached));
        if (reached) CHECK_EQ(got[l], expected[l]);
      }
    }
  });
}

TEST(blocks_refuse_what_does_not_fit) {
  std::u32string long_text(65, U'a');
  std::vector<std::u32string_view> too_long = {long_text};
  bool refused = false;
  try {
    LevenshteinBlock block(too_long, Isa::Portable);
  } catch (const std::invalid_argument&) {
    refused = true;
  }
  CHECK(refused);
  std::vector<std::u32string_view> patterns(33, U"ab");
  CHECK_EQ(lanes_to_take(patterns, Isa::Portable), 32u);
  patterns[3] = U"abcdefghi";  // 9 characters: 16-bit lanes, 16 of them
  CHECK_EQ(lanes_to_take(patterns, Isa::Portable), 16u);
  patterns[3] = U"abcdefghijklmnopq";  // 17 characters: 32-bit lanes, 8 of them
  CHECK_EQ(lanes_to_take(patterns, Isa::Portable), 8u);
  patterns[0] = long_text;
  CHECK_EQ(lanes_to_take(patterns, Isa::Portable), 0u);
}

TEST(levenshtein_max_distance_is_the_last_distance_reaching_the_cutoff) {
  for (std::uint64_t longest = 0; longest <= 40; ++longest) {
    for (double cutoff : {-1.0, 0.0, 0.1, 0.5, 0.6, 0.8, 0.95, 1.0, 1.5}) {
      std::int64_t expected = -1;
      for (std::uint64_t d = 0; d <= longest; ++d) {
        if (levenshtein_similarity_from(d, longest) >= cutoff) expected = std::int64_t(d);
      }
      CHECK_EQ(levenshtein_max_distance(longest, cutoff), expected);
      // Cutoffs that are exactly some similarity.
      if (longest > 0) {
        double exact = levenshtein_similarity_from(longest / 3, longest);
        CHECK_EQ(levenshtein_max_distance(longest, exact), std::int64_t(longest / 3));
      }
    }
  }
}
