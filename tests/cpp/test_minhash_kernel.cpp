// The MinHash kernel: the division-free reduction, and the vector versions
// against the plain one.
#include <cstdint>
#include <vector>

#include "algo/minhash_kernel.hpp"
#include "harness.hpp"

using namespace kivo;

namespace {

std::vector<std::uint64_t> sample_hashes(std::size_t n) {
  std::vector<std::uint64_t> out;
  std::uint64_t x = 0x243f6a8885a308d3ULL;
  for (std::size_t i = 0; i < n; ++i) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    out.push_back(x);
  }
  // Values whose products land near the top and on the prime itself.
  out.push_back(0);
  out.push_back(~std::uint64_t(0));
  out.push_back((std::uint64_t(1) << 61) - 1);
  return out;
}

}  // namespace

// The division-free reduction must equal the plain remainder everywhere:
// around every multiple of P that fits in 64 bits, at the extremes, and on a
// long pseudo-random sweep.
TEST(mersenne_reduction_equals_plain_remainder) {
  constexpr std::uint64_t p = minhash::kPrime;
  for (std::uint64_t k = 0; k <= 8; ++k) {
    for (std::uint64_t d = 0; d < 16; ++d) {
      std::uint64_t base = k * p;  // 8P + 15 < 2^64: no wrap
      CHECK_EQ(minhash::reduce(base + d), (base + d) % p);
      if (base >= d) CHECK_EQ(minhash::reduce(base - d), (base - d) % p);
    }
  }
  for (std::uint64_t d = 0; d < 64; ++d) {
    std::uint64_t v = ~std::uint64_t{0} - d;
    CHECK_EQ(minhash::reduce(v), v % p);
    std::uint64_t top = (std::uint64_t{7} << 61) | d;  // largest high part
    CHECK_EQ(minhash::reduce(top), top % p);
  }
  for (std::uint64_t x : sample_hashes(1000000)) CHECK_EQ(minhash::reduce(x), x % p);
}

TEST(minhash_vector_kernels_match_the_scalar_one) {
  for (std::size_t hashes : {0u, 1u, 7u, 300u}) {
    std::vector<std::uint64_t> input = sample_hashes(hashes);
    for (std::size_t count : {0u, 1u, 15u, 16u, 17u, 31u, 32u, 33u, 128u, 130u}) {
      std::vector<std::uint64_t> plain(count, 1);
      minhash::fold_minima(input.data(), input.size(), plain.data(), count, simd::Isa::Portable);
      for (simd::Isa isa : {simd::Isa::Avx2, simd::Isa::Avx512}) {
        if (!simd::supported(isa)) continue;
        std::vector<std::uint64_t> fast(count, 2);
        minhash::fold_minima(input.data(), input.size(), fast.data(), count, isa);
        CHECK_EQ(fast, plain);
      }
      std::vector<std::uint64_t> chosen(count, 3);
      minhash::fold_minima(input.data(), input.size(), chosen.data(), count);
      CHECK_EQ(chosen, plain);
    }
  }
}
