// Texts prepared once for many (the batch scorers' long queries) against the
// plain model and the single calls: every band and bound, texts on either
// side of the pattern's length, and lengths around the word boundaries.
#include <algorithm>
#include <cstdint>
#include <iterator>
#include <limits>
#include <string>

#include "algo/char_histogram.hpp"
#include "algo/jaro_winkler.hpp"
#include "algo/levenshtein.hpp"
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
