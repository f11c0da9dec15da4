// MinHash signatures over character shingle sets, with a fixed hash family
// so that signatures are identical in every process.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "base/error.hpp"

namespace kivo {

// Fails with MemoryError when num_hashes cannot possibly fit in memory.
Result<std::vector<std::uint64_t>> minhash_signature(std::string_view text,
                                                     std::uint64_t shingle_size,
                                                     std::uint64_t num_hashes);
Result<double> minhash_similarity(std::string_view a, std::string_view b,
                                  std::uint64_t shingle_size, std::uint64_t num_hashes);

}  // namespace kivo
