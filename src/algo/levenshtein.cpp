#include "levenshtein.hpp"

#include <algorithm>
#include <vector>

#include "utf8.hpp"

namespace kivo {

std::uint64_t levenshtein_distance(std::string_view a, std::string_view b) {
  std::size_t count_a = utf8::count_chars(a);
  std::size_t count_b = utf8::count_chars(b);
  if (a == b) return 0;

  // The row runs over the shorter text, the outer loop over the longer one.
  bool a_shorter = count_a <= count_b;
  std::vector<char32_t> shorter = utf8::decode(a_shorter ? a : b);
  std::string_view longer = a_shorter ? b : a;
  std::size_t n = shorter.size();
  if (n == 0) return a_shorter ? count_b : count_a;

  std::vector<std::uint64_t> row(n + 1);
  for (std::size_t j = 0; j <= n; ++j) row[j] = j;
  std::uint64_t i = 0;
  for (std::size_t pos = 0; pos < longer.size();) {
    char32_t l = utf8::next(longer, pos);
    std::uint64_t left = ++i;
    for (std::size_t j = 1; j <= n; ++j) {
      std::uint64_t cell = std::min({row[j] + 1, left + 1, row[j - 1] + (shorter[j - 1] != l)});
      row[j - 1] = left;
      left = cell;
    }
    row[n] = left;
  }
  return row[n];
}

double levenshtein_similarity(std::string_view a, std::string_view b) {
  std::size_t longest = std::max(utf8::count_chars(a), utf8::count_chars(b));
  if (longest == 0) return 1.0;
  return 1.0 - double(levenshtein_distance(a, b)) / double(longest);
}

}  // namespace kivo
