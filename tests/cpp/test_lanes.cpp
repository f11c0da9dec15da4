// The many-patterns-at-once kernels against plain models, on every
// instruction set this processor has (and so against each other), at every
// lane width and lane count, across the lengths where lanes change.
#include <algorithm>
#include <cstdint>
#include <span>
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

// Each pattern's count against `text` by `model`, and a limit for each: at,
// just below or just above the count, or below `anywhere`.
template <class Model>
void counts_and_limits(Random& rng, const std::vector<std::u32string_view>& patterns,
                       std::u32string_view text, Model model, std::uint32_t anywhere,
                       std::vector<std::uint32_t>& counts, std::vector<std::uint32_t>& limits) {
  for (std::u32string_view p : patterns) {
    auto count = std::uint32_t(model(p, text));
    auto limit = std::uint32_t(std::max<std::int64_t>(0, std::int64_t(count) - 2 + rng.below(5)));
    if (rng.below(4) == 0) limit = std::uint32_t(rng.below(anywhere));
    counts.push_back(count);
    limits.push_back(limit);
  }
}

// CHECKs that a block's counts without limits, for `text` alone, beside another of
// `texts`, and at a random place in a list of them, each as if alone; `run` forwards to
// the block's counting member.
template <class Run>
void check_unlimited(bool& kivo_ok, Random& rng, Run run, const std::u32string& text,
                     const std::vector<std::u32string>& texts,
                     const std::vector<std::uint32_t>& expected) {
  std::size_t count = expected.size();
  std::vector<std::uint32_t> exact(count), first(count), second(count), alone(count);
  run(text, exact.data());
  CHECK_EQ(exact, expected);
  std::u32string_view other = texts[rng.below(texts.size())];
  run(text, other, first.data(), second.data());
  run(other, alone.data());
  CHECK_EQ(first, expected);
  CHECK_EQ(second, alone);

  // Odd and even list lengths, the text anywhere in them.
  std::vector<std::u32string_view> list(1 + rng.below(6));
  for (std::u32string_view& t : list) t = texts[rng.below(texts.size())];
  std::size_t at = rng.below(list.size());
  list[at] = text;
  std::vector<std::uint32_t> many(count * list.size() + 1, 0xDEAD);
  run(std::span<const std::u32string_view>(list), many.data());
  CHECK_EQ(many.back(), 0xDEADu);  // nothing past the last lane's row
  for (std::size_t t = 0; t < list.size(); ++t) {
    run(list[t], alone.data());
    for (std::size_t l = 0; l < count; ++l) CHECK_EQ(many[l * list.size() + t], alone[l]);
  }
}

// CHECKs an edit distance block against `model`: without bounds, with one bound per
// lane and with one for all.
template <class Block, class Model>
void check_edit_lanes(bool& kivo_ok, Model model) {
  Random rng;
  for_each_block([&](const std::vector<std::u32string_view>& patterns,
                     const std::vector<std::u32string>& texts, Isa isa) {
    Block block(patterns, isa);
    CHECK_EQ(block.size(), patterns.size());
    for (const std::u32string& text : texts) {
      std::vector<std::uint32_t> expected, bounds, bounded(patterns.size());
      counts_and_limits(rng, patterns, text, model, 3, expected, bounds);
      check_unlimited(
          kivo_ok, rng, [&](auto... args) { block.distances(args...); }, text, texts, expected);
      std::uint64_t lanes = block.distances(text, bounds.data(), bounded.data());
      for (std::size_t l = 0; l < patterns.size(); ++l) {
        CHECK_EQ(bounded[l], std::min(expected[l], bounds[l] + 1));
        CHECK_EQ((lanes >> l) & 1, std::uint64_t(expected[l] <= bounds[l]));
      }
      lanes = block.distances(text, bounds[0], bounded.data());
      for (std::size_t l = 0; l < patterns.size(); ++l) {
        CHECK_EQ(bounded[l], std::min(expected[l], bounds[0] + 1));
        CHECK_EQ((lanes >> l) & 1, std::uint64_t(expected[l] <= bounds[0]));
      }
    }
  });
}

}  // namespace

TEST(levenshtein_lanes_match_the_plain_model) {
  check_edit_lanes<LevenshteinBlock>(kivo_ok, plain_levenshtein);
}

TEST(osa_lanes_equal_the_single_pair_distance_with_and_without_bounds) {
  check_edit_lanes<OsaBlock>(kivo_ok, [](std::u32string_view p, std::u32string_view t) {
    return osa_distance(chars_of(p), chars_of(t));
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

TEST(lcs_lanes_equal_the_single_pair_length_with_and_without_needs) {
  Random rng;
  auto model = [](std::u32string_view p, std::u32string_view t) {
    return lcs_length(chars_of(p), chars_of(t));
  };
  for_each_block([&](const std::vector<std::u32string_view>& patterns,
                     const std::vector<std::u32string>& texts, Isa isa) {
    LcsBlock block(patterns, isa);
    CHECK_EQ(block.size(), patterns.size());
    for (const std::u32string& text : texts) {
      std::vector<std::uint32_t> expected, needs, got(patterns.size());
      counts_and_limits(rng, patterns, text, model, 70, expected, needs);
      check_unlimited(
          kivo_ok, rng, [&](auto... args) { block.lengths(args...); }, text, texts, expected);
      std::uint64_t lanes = block.lengths(text, needs.data(), got.data());
      for (std::size_t l = 0; l < patterns.size(); ++l) {
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
