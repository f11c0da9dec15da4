// SimHash: a 64-bit fingerprint from the shingle list (repeats weigh), and
// the share of equal bits between two fingerprints.
#pragma once

#include <bit>
#include <cstdint>
#include <string_view>

namespace kivo {

std::uint64_t simhash_fingerprint(std::string_view text, std::uint64_t shingle_size);
// The share of equal bits; d * (-1/64) + 1 is exact for every d in 0..64.
inline double simhash_fingerprint_similarity(std::uint64_t fa, std::uint64_t fb) {
  return double(std::popcount(fa ^ fb)) * -0.015625 + 1.0;
}

double simhash_similarity(std::string_view a, std::string_view b, std::uint64_t shingle_size);

}  // namespace kivo
