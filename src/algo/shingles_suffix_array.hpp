// Suffix arrays of integer texts, and the common prefixes of neighbouring
// suffixes: the index that tells long shingles apart by their characters.
#pragma once

#include <vector>

namespace kivo::suffixes {

// The start positions of the suffixes of `text` in lexicographic order, built
// by induced sorting (SA-IS) in linear time. The last symbol must be 0 and
// occur nowhere else; every symbol is below `alphabet`, and the text is
// shorter than the largest Index. Index is std::uint32_t or std::uint64_t.
template <class Index>
std::vector<Index> suffix_array(const std::vector<Index>& text, Index alphabet);

// Entry p: how many leading symbols the suffix at p shares with the suffix
// just before it in `order` (0 for the first), by the permuted-LCP method in
// linear time.
template <class Index>
std::vector<Index> common_prefix_with_previous(const std::vector<Index>& text,
                                               const std::vector<Index>& order);

}  // namespace kivo::suffixes
