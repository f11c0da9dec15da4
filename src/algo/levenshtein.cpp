#include "levenshtein.hpp"

#include <algorithm>
#include <span>

#include "bit_parallel.hpp"
#include "code_points.hpp"
#include "utf8.hpp"

namespace kivo {

namespace {

// Removes the longest common prefix and suffix of whole characters; neither
// changes the edit distance. The cut points fall on character boundaries:
// equal bytes before a cut mean the same character structure in both texts.
void strip_common_affixes(std::string_view& a, std::string_view& b) {
  std::size_t shortest = std::min(a.size(), b.size());
  std::size_t prefix = 0;
  while (prefix < shortest && a[prefix] == b[prefix]) ++prefix;
  while (prefix > 0 && prefix < a.size() && utf8::is_continuation(a[prefix])) --prefix;
  a.remove_prefix(prefix);
  b.remove_prefix(prefix);
  shortest -= prefix;
  std::size_t suffix = 0;
  while (suffix < shortest && a[a.size() - 1 - suffix] == b[b.size() - 1 - suffix]) ++suffix;
  while (suffix > 0 && utf8::is_continuation(a[a.size() - suffix])) --suffix;
  a.remove_suffix(suffix);
  b.remove_suffix(suffix);
}

template <class C>
std::uint64_t bit_parallel_distance(std::span<const C> a, std::span<const C> b) {
  // The shorter text runs down the rows: fewer words per column.
  if (a.size() > b.size()) std::swap(a, b);
  if (a.empty()) return b.size();
  if (a.size() <= 64) return bitpar::distance_word(a, b);
  return bitpar::distance_long(a, b);
}

std::span<const unsigned char> bytes(std::string_view text) {
  return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

}  // namespace

std::uint64_t levenshtein_distance(std::string_view a, std::string_view b) {
  if (a == b) return 0;
  strip_common_affixes(a, b);
  if (utf8::is_ascii(a) && utf8::is_ascii(b)) return bit_parallel_distance(bytes(a), bytes(b));
  CodePoints wide_a(a);
  CodePoints wide_b(b);
  return bit_parallel_distance(wide_a.view(), wide_b.view());
}

double levenshtein_similarity(std::string_view a, std::string_view b) {
  std::size_t longest = std::max(utf8::count_chars(a), utf8::count_chars(b));
  if (longest == 0) return 1.0;
  return 1.0 - double(levenshtein_distance(a, b)) / double(longest);
}

}  // namespace kivo
