#include "algo/shingles_suffix_array.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace kivo::suffixes {

namespace {

template <class Index>
constexpr Index kEmpty = std::numeric_limits<Index>::max();

// The suffixes starting with symbol c fill one bucket of the suffix array.
template <class Index>
class Buckets {
 public:
  Buckets(const Index* s, Index n, Index alphabet) : sizes_(alphabet, 0), edges_(alphabet) {
    for (Index i = 0; i < n; ++i) ++sizes_[s[i]];
  }

  // The first slot of every bucket.
  std::vector<Index>& heads() {
    Index sum = 0;
    for (std::size_t c = 0; c < sizes_.size(); ++c) {
      edges_[c] = sum;
      sum += sizes_[c];
    }
    return edges_;
  }

  // One past the last slot of every bucket.
  std::vector<Index>& tails() {
    Index sum = 0;
    for (std::size_t c = 0; c < sizes_.size(); ++c) {
      sum += sizes_[c];
      edges_[c] = sum;
    }
    return edges_;
  }

 private:
  std::vector<Index> sizes_;
  std::vector<Index> edges_;
};

// Suffix i is S-type when it is smaller than suffix i + 1, L-type when larger;
// an LMS position is an S-type one right after an L-type one.
class Types {
 public:
  template <class Index>
  Types(const Index* s, Index n) : small_(n) {
    small_[n - 1] = 1;
    for (Index i = n - 1; i-- > 0;)
      small_[i] = s[i] < s[i + 1] || (s[i] == s[i + 1] && small_[i + 1]);
  }

  bool small(std::size_t i) const { return small_[i]; }
  bool lms(std::size_t i) const { return i > 0 && small_[i] && !small_[i - 1]; }

 private:
  std::vector<unsigned char> small_;
};

// From the LMS suffixes placed at the tails of their buckets, places the
// L-type suffixes left to right, then the S-type suffixes right to left.
template <class Index>
void induce(const Index* s, Index* sa, Index n, const Types& types, Buckets<Index>& buckets) {
  std::vector<Index>& head = buckets.heads();
  for (Index i = 0; i < n; ++i) {
    Index j = sa[i];
    if (j != kEmpty<Index> && j > 0 && !types.small(j - 1)) sa[head[s[j - 1]]++] = j - 1;
  }
  std::vector<Index>& tail = buckets.tails();
  for (Index i = n; i-- > 0;) {
    Index j = sa[i];
    if (j != kEmpty<Index> && j > 0 && types.small(j - 1)) sa[--tail[s[j - 1]]] = j - 1;
  }
}

// Whether the LMS substrings at a and b (each running to the next LMS
// position) are equal. The unique final symbol ends every comparison in range.
template <class Index>
bool same_lms_substring(const Index* s, const Types& types, Index a, Index b) {
  for (Index d = 0;; ++d) {
    if (s[a + d] != s[b + d] || types.small(a + d) != types.small(b + d)) return false;
    if (d > 0 && types.lms(a + d)) return true;  // equal types: b + d is LMS too
  }
}

// SA-IS. The reduced problem lives inside sa: its text in the upper part, its
// suffix array in the lower part (there are at most n / 2 LMS positions).
template <class Index>
void sort_suffixes(const Index* s, Index* sa, Index n, Index alphabet) {
  if (n == 1) {
    sa[0] = 0;
    return;
  }
  Types types(s, n);
  Buckets<Index> buckets(s, n, alphabet);

  // Sort the LMS substrings.
  std::fill(sa, sa + n, kEmpty<Index>);
  std::vector<Index>& lms_tail = buckets.tails();
  for (Index i = 1; i < n; ++i)
    if (types.lms(i)) sa[--lms_tail[s[i]]] = i;
  induce(s, sa, n, types, buckets);

  // Name them by rank, equal substrings alike; the names in text order form
  // the reduced text. Name slots p / 2 never collide: LMS positions are at
  // least two apart.
  Index m = 0;
  for (Index i = 0; i < n; ++i)
    if (types.lms(sa[i])) sa[m++] = sa[i];
  std::fill(sa + m, sa + n, kEmpty<Index>);
  Index names = 0;
  for (Index i = 0; i < m; ++i) {
    Index p = sa[i];
    if (i == 0 || !same_lms_substring(s, types, sa[i - 1], p)) ++names;
    sa[m + p / 2] = names - 1;
  }
  Index* reduced = sa + n - m;
  for (Index i = n, j = n; i-- > m;)
    if (sa[i] != kEmpty<Index>) sa[--j] = sa[i];

  // Sort the LMS suffixes: recursively unless every name is distinct.
  if (names < m) {
    sort_suffixes(reduced, sa, m, names);
  } else {
    for (Index i = 0; i < m; ++i) sa[reduced[i]] = i;
  }
  Index* lms = reduced;  // the reduced text is no longer needed
  for (Index i = 1, j = 0; i < n; ++i)
    if (types.lms(i)) lms[j++] = i;
  for (Index i = 0; i < m; ++i) sa[i] = lms[sa[i]];

  // Place them at their buckets' tails in order and induce the rest.
  std::fill(sa + m, sa + n, kEmpty<Index>);
  std::vector<Index>& tail = buckets.tails();
  for (Index i = m; i-- > 0;) {
    Index p = sa[i];
    sa[i] = kEmpty<Index>;
    sa[--tail[s[p]]] = p;
  }
  induce(s, sa, n, types, buckets);
}

}  // namespace

template <class Index>
std::vector<Index> suffix_array(const std::vector<Index>& text, Index alphabet) {
  std::vector<Index> sa(text.size());
  if (!text.empty()) sort_suffixes(text.data(), sa.data(), Index(text.size()), alphabet);
  return sa;
}

template <class Index>
std::vector<Index> common_prefix_with_previous(const std::vector<Index>& text,
                                               const std::vector<Index>& order) {
  // First each suffix's predecessor in `order`, then, in text order, the
  // common prefix with it: one shorter suffix later it is at most one shorter,
  // so the comparison resumes there.
  std::vector<Index> result(text.size());
  if (text.empty()) return result;
  result[order[0]] = kEmpty<Index>;
  for (std::size_t i = 1; i < order.size(); ++i) result[order[i]] = order[i - 1];
  Index h = 0;
  for (std::size_t p = 0; p < text.size(); ++p) {
    Index q = result[p];
    if (q == kEmpty<Index>) {
      result[p] = h = 0;
      continue;
    }
    while (text[p + h] == text[q + h]) ++h;  // the unique final symbol stops this
    result[p] = h;
    if (h > 0) --h;
  }
  return result;
}

template std::vector<std::uint32_t> suffix_array(const std::vector<std::uint32_t>&, std::uint32_t);
template std::vector<std::uint64_t> suffix_array(const std::vector<std::uint64_t>&, std::uint64_t);
template std::vector<std::uint32_t> common_prefix_with_previous(const std::vector<std::uint32_t>&,
                                                                const std::vector<std::uint32_t>&);
template std::vector<std::uint64_t> common_prefix_with_previous(const std::vector<std::uint64_t>&,
                                                                const std::vector<std::uint64_t>&);

}  // namespace kivo::suffixes
