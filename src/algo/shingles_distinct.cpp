#include "algo/shingles_distinct.hpp"

#include <algorithm>
#include <limits>
#include <vector>

#include "algo/shingles_suffix_array.hpp"
#include "base/error.hpp"
#include "text/utf8.hpp"

namespace kivo {

namespace {

// Symbol 0 ends the text and symbol 1 separates a from b; characters follow.
// Neither mark occurs twice, so no common prefix of two suffixes runs across
// one: suffixes that share n symbols both start a whole window.
constexpr std::uint32_t kEnd = 0;
constexpr std::uint32_t kSeparator = 1;
constexpr std::uint32_t kFirstChar = 2;

template <class Index>
std::vector<Index> joined_symbols(std::string_view a, std::string_view b, std::size_t size) {
  std::vector<Index> text;
  text.reserve(size);
  for (std::size_t pos = 0; pos < a.size();) text.push_back(Index(utf8::next(a, pos)) + kFirstChar);
  text.push_back(kSeparator);
  for (std::size_t pos = 0; pos < b.size();) text.push_back(Index(utf8::next(b, pos)) + kFirstChar);
  text.push_back(kEnd);
  return text;
}

// Renumbers the symbols by rank when the code space would dwarf the text, so
// that the suffix sort's bucket tables grow with the text; returns the
// alphabet size. Tables of a thousand entries cost less than the renumbering.
template <class Index>
Index compact_alphabet(std::vector<Index>& text) {
  Index top = *std::max_element(text.begin(), text.end());
  if (top < std::max<std::size_t>(text.size(), 1024)) return top + 1;
  std::vector<Index> ranks(text);
  std::sort(ranks.begin(), ranks.end());
  ranks.erase(std::unique(ranks.begin(), ranks.end()), ranks.end());
  for (Index& symbol : text)
    symbol = Index(std::lower_bound(ranks.begin(), ranks.end(), symbol) - ranks.begin());
  return Index(ranks.size());
}

// Equal windows are the suffixes that share at least n symbols: runs of
// neighbours in suffix order. Each run is one distinct shingle, of a, of b or
// of both.
template <class Index>
ShingleCounts count_windows(std::string_view a, std::string_view b, std::size_t chars_a,
                            std::size_t chars_b, std::uint64_t n) {
  std::vector<Index> text = joined_symbols<Index>(a, b, chars_a + chars_b + 2);
  Index alphabet = compact_alphabet(text);
  std::vector<Index> order = suffixes::suffix_array(text, alphabet);
  std::vector<Index> common = suffixes::common_prefix_with_previous(text, order);
  std::uint64_t b_begin = chars_a + 1;
  std::uint64_t b_end = b_begin + chars_b;
  ShingleCounts counts{0, 0, 0};
  bool in_a = false;
  bool in_b = false;
  auto close_run = [&] {
    counts.first += in_a;
    counts.second += in_b;
    counts.shared += in_a && in_b;
    in_a = in_b = false;
  };
  for (Index p : order) {
    if (common[p] < n) close_run();
    if (p + n <= chars_a) in_a = true;
    if (p >= b_begin && p + n <= b_end) in_b = true;
  }
  close_run();
  return counts;
}

}  // namespace

ShingleCounts count_distinct_shingles(std::string_view a, std::string_view b, std::uint64_t n) {
  std::size_t chars_a = utf8::count_chars(a);
  std::size_t chars_b = utf8::count_chars(b);
  if (chars_a < n && chars_b < n) return {1, 1, a == b};
  if (n == 0) throw InternalFault("window size must be non-zero");
  ShingleCounts counts = chars_a + chars_b + 2 < std::numeric_limits<std::uint32_t>::max()
                             ? count_windows<std::uint32_t>(a, b, chars_a, chars_b, n)
                             : count_windows<std::uint64_t>(a, b, chars_a, chars_b, n);
  // A text shorter than n is one shingle, shorter than any window of the
  // other text.
  if (chars_a < n) counts.first = 1;
  if (chars_b < n) counts.second = 1;
  return counts;
}

}  // namespace kivo
