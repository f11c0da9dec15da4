// Counts of distinct character shingles of two texts, exact and in time close
// to linear in their length whatever the window: hashing each window instead
// costs (L - n + 1) * n, which long windows make quadratic.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kivo {

struct ShingleCounts {
  std::size_t first;   // distinct shingles of a
  std::size_t second;  // distinct shingles of b
  std::size_t shared;  // shingles of both
};

// The sizes of shingle_set(a, n), shingle_set(b, n) and of their
// intersection, with the same rules and the same fault for n == 0.
ShingleCounts count_distinct_shingles(std::string_view a, std::string_view b, std::uint64_t n);

}  // namespace kivo
