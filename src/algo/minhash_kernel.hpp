// The inner loop of MinHash: signature entry i is the minimum over the
// shingle hashes h of ((A_i * h + B_i) mod 2^64) mod (2^61 - 1). Vector
// versions for AVX-512 and AVX2 run where simd::active() allows them; all
// versions give the same entries.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/simd.hpp"

namespace kivo::minhash {

// The Mersenne prime 2^61 - 1 every hash value is reduced by.
inline constexpr std::uint64_t kPrime = (std::uint64_t{1} << 61) - 1;

// v mod (2^61 - 1) without a division. Write v = hi * 2^61 + lo; since
// 2^61 = 1 (mod P), v = hi + lo (mod P), and hi + lo <= 7 + (2^61 - 1) < 2P,
// so one conditional subtraction yields the canonical remainder.
inline std::uint64_t reduce(std::uint64_t v) {
  std::uint64_t r = (v & kPrime) + (v >> 61);
  return r >= kPrime ? r - kPrime : r;
}

// Hash function i has B_i = s_i and A_i = (s_i + kMultiplierOffset) | 1 over
// the seeds s_0 = kFirstSeed, s_(i+1) = s_i + kSeedStep (wrapping).
inline constexpr std::uint64_t kFirstSeed = 0x9e3779b97f4a8e49ULL;
inline constexpr std::uint64_t kSeedStep = 0x9e3779b97f4a7c15ULL;
inline constexpr std::uint64_t kMultiplierOffset = 0x9999;

// Writes the `count` entries of the signature of `hashes` to `out`, with the
// instruction set `isa` (narrowed to what the processor runs).
void fold_minima(const std::uint64_t* hashes, std::size_t hash_count, std::uint64_t* out,
                 std::size_t count, simd::Isa isa = simd::active());

}  // namespace kivo::minhash
