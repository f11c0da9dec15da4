#include <cstdint>

#include "algo/minhash.hpp"
#include "harness.hpp"

using namespace kivo;

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
  std::uint64_t x = 0x9e3779b97f4a7c15ULL;
  for (int i = 0; i < 1000000; ++i) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    CHECK_EQ(minhash::reduce(x), x % p);
  }
}
