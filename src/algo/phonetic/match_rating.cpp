#include <algorithm>
#include <cstdlib>

#include "algo/phonetic/phonetic.hpp"
#include "base/cancel.hpp"

namespace kivo::phonetic {

void match_rating_codex(std::string_view letters, std::string& key) {
  std::size_t start = key.size();
  cancel::Meter meter;
  for (std::size_t i = 0; i < letters.size(); ++i) {
    meter.add();
    char c = letters[i];
    bool vowel = c == 'A' || c == 'E' || c == 'I' || c == 'O' || c == 'U';
    // A letter doubled in the name is read once; vowels count only first.
    if ((i > 0 && letters[i - 1] == c) || (vowel && i != 0)) continue;
    key += c;
  }
  // A long codex keeps its first three letters and its last three.
  if (key.size() - start > 6) key.erase(start + 3, key.size() - start - 6);
}

std::optional<bool> match_rating_comparison(std::string_view a, std::string_view b) {
  std::size_t difference = a.size() > b.size() ? a.size() - b.size() : b.size() - a.size();
  if (difference >= 3) return std::nullopt;
  std::size_t total = a.size() + b.size();
  int minimum = total <= 4 ? 5 : total <= 7 ? 4 : total <= 11 ? 3 : 2;

  // Characters equal at the same place are struck out, first from the left,
  // then from the right among those that remain.
  std::string left(a), right(b);
  std::string kept_left, kept_right;
  for (std::size_t i = 0; i < std::max(left.size(), right.size()); ++i) {
    bool both = i < left.size() && i < right.size();
    if (both && left[i] == right[i]) continue;
    if (i < left.size()) kept_left += left[i];
    if (i < right.size()) kept_right += right[i];
  }
  std::string rest_left, rest_right;
  std::size_t n = kept_left.size(), m = kept_right.size();
  for (std::size_t i = 0; i < std::max(n, m); ++i) {
    bool both = i < n && i < m;
    if (both && kept_left[n - 1 - i] == kept_right[m - 1 - i]) continue;
    if (i < n) rest_left += kept_left[n - 1 - i];
    if (i < m) rest_right += kept_right[m - 1 - i];
  }
  std::size_t unmatched = std::max(rest_left.size(), rest_right.size());
  return 6 - int(unmatched) >= minimum;
}

}  // namespace kivo::phonetic
