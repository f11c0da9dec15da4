// MinHash signatures over character shingle sets, with a fixed hash family
// so that signatures are identical in every process.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "base/error.hpp"

namespace kivo {

// Fails with MemoryError when num_hashes cannot possibly fit in memory.
Result<std::vector<std::uint64_t>> minhash_signature(std::string_view text,
                                                     std::uint64_t shingle_size,
                                                     std::uint64_t num_hashes);
// The share of equal entries over the shorter signature's length.
inline double minhash_signature_similarity(std::span<const std::uint64_t> a,
                                           std::span<const std::uint64_t> b) {
  std::size_t length = std::min(a.size(), b.size());
  std::size_t equal = 0;
  for (std::size_t i = 0; i < length; ++i) equal += a[i] == b[i];
  // No hash functions: 0 / 0, which is NaN.
  return double(equal) / double(length);
}

// The MemoryError minhash_signature gives for num_hashes, when `rows`
// signatures of that length could never be held; none otherwise.
std::optional<ExceptionDesc> signature_rows_too_large(std::uint64_t num_hashes, std::uint64_t rows);

Result<double> minhash_similarity(std::string_view a, std::string_view b,
                                  std::uint64_t shingle_size, std::uint64_t num_hashes);

}  // namespace kivo
