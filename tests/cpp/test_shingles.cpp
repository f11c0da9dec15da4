// Distinct shingle counts by suffix array against the hashed shingle sets.
#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "algo/shingles.hpp"
#include "algo/shingles_distinct.hpp"
#include "algo/shingles_suffix_array.hpp"
#include "base/error.hpp"
#include "harness.hpp"

using namespace kivo;

namespace {

// Small alphabets repeat windows often; some letters take several bytes.
std::string random_text(std::mt19937& rng, std::size_t length,
                        const std::vector<std::string>& letters) {
  std::string out;
  for (std::size_t i = 0; i < length; ++i) out += letters[rng() % letters.size()];
  return out;
}

ShingleCounts counts_from_sets(std::string_view a, std::string_view b, std::uint64_t n) {
  ShingleSet sa = shingle_set(a, n);
  ShingleSet sb = shingle_set(b, n);
  std::size_t shared = 0;
  for (std::string_view s : sa) shared += sb.count(s);
  return {sa.size(), sb.size(), shared};
}

bool operator==(const ShingleCounts& x, const ShingleCounts& y) {
  return x.first == y.first && x.second == y.second && x.shared == y.shared;
}

template <class Index>
bool suffix_index_matches_plain_sort(const std::vector<Index>& text, Index alphabet) {
  std::vector<Index> order = suffixes::suffix_array(text, alphabet);
  std::vector<Index> plain(text.size());
  for (std::size_t i = 0; i < plain.size(); ++i) plain[i] = Index(i);
  auto suffix = [&](Index p) { return std::vector<Index>(text.begin() + p, text.end()); };
  std::sort(plain.begin(), plain.end(), [&](Index x, Index y) { return suffix(x) < suffix(y); });
  if (order != plain) return false;
  std::vector<Index> common = suffixes::common_prefix_with_previous(text, order);
  for (std::size_t i = 0; i < order.size(); ++i) {
    Index h = 0;
    if (i > 0)
      while (text[order[i] + h] == text[order[i - 1] + h]) ++h;
    if (common[order[i]] != h) return false;
  }
  return true;
}

}  // namespace

TEST(suffix_array_and_common_prefixes_match_plain_sorting) {
  std::mt19937 rng(7);
  for (int round = 0; round < 300; ++round) {
    std::size_t length = rng() % 60;
    std::uint32_t alphabet = 3 + rng() % 3;
    std::vector<std::uint32_t> text(length);
    for (std::size_t i = 0; i < length; ++i)  // every third text periodic: deepest recursion
      text[i] = round % 3 == 0 ? 1 + (i % 3 == 2) : 1 + rng() % (alphabet - 1);
    text.push_back(0);
    CHECK(suffix_index_matches_plain_sort(text, alphabet));
    std::vector<std::uint64_t> wide(text.begin(), text.end());
    CHECK(suffix_index_matches_plain_sort(wide, std::uint64_t(alphabet)));
  }
}

TEST(distinct_shingle_counts_match_the_shingle_sets) {
  std::mt19937 rng(11);
  const std::vector<std::vector<std::string>> alphabets = {
      {"a", "b"}, {"a", "\xc3\xa9"}, {"x", "\xf0\x9f\x98\x80", "\xe6\x97\xa5"}, {"a"}};
  for (int round = 0; round < 400; ++round) {
    const auto& letters = alphabets[round % alphabets.size()];
    std::string a = random_text(rng, rng() % 40, letters);
    std::string b = round % 5 == 0 ? a + random_text(rng, rng() % 3, letters)
                                   : random_text(rng, rng() % 40, letters);
    std::size_t longest = std::max(a.size(), b.size());
    for (std::uint64_t n = 1; n <= longest + 2; ++n)
      CHECK(count_distinct_shingles(a, b, n) == counts_from_sets(a, b, n));
    CHECK(count_distinct_shingles(a, a, 3) == counts_from_sets(a, a, 3));
  }
  CHECK(count_distinct_shingles("", "", 1) == (ShingleCounts{1, 1, 1}));
  CHECK(count_distinct_shingles("", "ab", ~std::uint64_t(0)) == (ShingleCounts{1, 1, 0}));
  bool faulted = false;
  try {
    count_distinct_shingles("", "", 0);
  } catch (const InternalFault& fault) {
    faulted = std::string(fault.what()) == "window size must be non-zero";
  }
  CHECK(faulted);
}
