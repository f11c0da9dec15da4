#include "jaro_winkler.hpp"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "utf8.hpp"

namespace kivo {

namespace {

constexpr std::size_t kMaxPrefix = 4;
constexpr double kPrefixScale = 0.1;

double jaro(const std::vector<char32_t>& a, const std::vector<char32_t>& b) {
  std::size_t la = a.size();
  std::size_t lb = b.size();
  if (la == 0 || lb == 0) return 0.0;

  std::size_t longest = std::max(la, lb);
  std::size_t window = longest / 2 == 0 ? 0 : longest / 2 - 1;

  // Greedy matching from a's side: each character of a takes the first
  // unmatched equal character of b inside its window.
  std::vector<std::uint8_t> matched_a(la, 0);
  std::vector<std::uint8_t> matched_b(lb, 0);
  std::size_t matches = 0;
  for (std::size_t i = 0; i < la; ++i) {
    std::size_t lo = i > window ? i - window : 0;
    std::size_t hi = std::min(lb, i + window + 1);
    for (std::size_t j = lo; j < hi; ++j) {
      if (!matched_b[j] && b[j] == a[i]) {
        matched_a[i] = 1;
        matched_b[j] = 1;
        ++matches;
        break;
      }
    }
  }
  if (matches == 0) return 0.0;

  // Matched characters of a and b paired in order; each unequal pair is half
  // a transposition.
  std::size_t unequal = 0;
  std::size_t k = 0;
  for (std::size_t i = 0; i < la; ++i) {
    if (!matched_a[i]) continue;
    while (k < lb && !matched_b[k]) ++k;
    if (k < lb && a[i] != b[k]) ++unequal;
    ++k;
  }

  double m = double(matches);
  double h = double(unequal / 2);
  return ((m / double(la) + m / double(lb)) + (m - h) / m) / 3.0;
}

std::size_t common_prefix(const std::vector<char32_t>& a, const std::vector<char32_t>& b) {
  std::size_t limit = std::min({a.size(), b.size(), kMaxPrefix});
  std::size_t p = 0;
  while (p < limit && a[p] == b[p]) ++p;
  return p;
}

}  // namespace

double jaro_winkler_similarity(std::string_view a, std::string_view b) {
  if (a == b) return 1.0;
  std::vector<char32_t> da = utf8::decode(a);
  std::vector<char32_t> db = utf8::decode(b);
  double j = jaro(da, db);
  // The prefix bonus applies at every Jaro value; no threshold.
  return (1.0 - j) * (double(common_prefix(da, db)) * kPrefixScale) + j;
}

}  // namespace kivo
