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

namespace minhash {

// The Mersenne prime 2^61 - 1 every hash value is reduced by.
inline constexpr std::uint64_t kPrime = (std::uint64_t{1} << 61) - 1;

// v mod (2^61 - 1) without a division. Write v = hi * 2^61 + lo; since
// 2^61 = 1 (mod P), v = hi + lo (mod P), and hi + lo <= 7 + (2^61 - 1) < 2P,
// so one conditional subtraction yields the canonical remainder.
inline std::uint64_t reduce(std::uint64_t v) {
  std::uint64_t r = (v & kPrime) + (v >> 61);
  return r >= kPrime ? r - kPrime : r;
}

}  // namespace minhash

}  // namespace kivo
