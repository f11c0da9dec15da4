// The many-patterns-at-once kernels against plain models, on every
// instruction set this processor has (and so against each other), at every
// lane width and lane count, across the lengths where lanes change.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "algo/jaro_winkler.hpp"
#include "algo/lanes/jaro_winkler_lanes.hpp"
#include "algo/lanes/levenshtein_lanes.hpp"
#include "algo/score_arithmetic.hpp"
#include "harness.hpp"
#include "text/char_span.hpp"

using namespace kivo;
using namespace kivo::lanes;

namespace {

struct Random {
  std::uint64_t state = 0x9E3779B97F4A7C15ULL;
  std::uint64_t below(std::uint64_t n) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state % n;
  }
};

const std::u32string kAlphabets[] = {U"ab", U"abcdefghijklmnopqrstuvwxyz",
                                     U"a\u00e9\u4e2d\U0001F600\U0010FFFF\u0080", U""};

std::u32string random_text(Random& rng, std::size_t length, std::u32string_view alphabet) {
  std::u32string text;
  for (std::size_t i = 0; i < length; ++i) {
    // An empty alphabet: many distinct non-ASCII characters, to crowd the table.
    text +=
        alphabet.empty() ? char32_t(0x4E00 + rng.below(300)) : alphabet[rng.below(alphabet.size())];
  }
  return text;
}

// A few edits of `text`, so that some distances are small and bounds matter.
std::u32string edited(Random& rng, std::u32string text, std::u32string_view alphabet) {
  for (std::size_t k = rng.below(4); k > 0; --k) {
    std::size_t at = rng.below(text.size() + 1);
    char32_t one = random_text(rng, 1, alphabet)[0];
    if (rng.below(2) == 0 || at == text.size()) {
      text.insert(text.begin() + std::ptrdiff_t(at), one);
    } else {
      text.erase(at, 1);
    }
  }
  return text;
}

std::uint32_t plain_levenshtein(std::u32string_view a, std::u32string_view b) {
  std::vector<std::uint32_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = std::uint32_t(j);
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::uint32_t diagonal = row[0];
    row[0] = std::uint32_t(i);
    for (std::size_t j = 1; j <= b.size(); ++j) {
      std::uint32_t above = row[j];
      row[j] = std::min({above + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
      diagonal = above;
    }
  }
  return row[b.size()];
}

CharSpan chars_of(std::u32string_view text) {
  return {text.data(), text.size(), 4};
}

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
  std::vector<std::u32string_view> patterns(17, U"ab");
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
