// The byte kernels' forms against plain loops, at lengths around the 8-byte
// words, the 16-byte blocks and the 255-block lane sums, and unaligned.
#include <cstdint>
#include <random>
#include <vector>

#include "base/byte_kernels.hpp"
#include "harness.hpp"

using namespace kivo;

TEST(byte_kernels_agree_with_plain_loops) {
  std::mt19937 rng(11);
  std::vector<std::size_t> lengths;
  for (std::size_t edge : {0u, 8u, 16u, 32u, 64u, 128u, 255u * 16, 255u * 32}) {
    for (std::size_t n = edge < 3 ? 0 : edge - 3; n <= edge + 3; ++n) lengths.push_back(n);
  }
  for (unsigned spread : {2u, 64u, 256u}) {  // bytes around 0xC0, the end of the continuation range
    for (std::size_t n : lengths) {
      std::vector<unsigned char> a(n + 1), b(n + 1);
      for (std::size_t i = 0; i <= n; ++i) {
        a[i] = static_cast<unsigned char>(0xC0 - spread / 2 + rng() % spread);
        b[i] = rng() % 4 == 0 ? static_cast<unsigned char>(rng()) : a[i];
      }
      for (std::size_t at : {0u, 1u}) {
        std::size_t continuation = 0, mismatches = 0;
        for (std::size_t i = at; i < at + n; ++i) {
          continuation += a[i] >= 0x80 && a[i] < 0xC0;
          mismatches += a[i] != b[i];
        }
        CHECK_EQ(bytes::scalar::count_continuation(a.data() + at, n), continuation);
        CHECK_EQ(bytes::scalar::count_mismatches(a.data() + at, b.data() + at, n), mismatches);
#if defined(KIVO_BYTE_KERNELS_SSE2)
        CHECK_EQ(bytes::sse2::count_continuation(a.data() + at, n), continuation);
        CHECK_EQ(bytes::sse2::count_mismatches(a.data() + at, b.data() + at, n), mismatches);
#endif
      }
    }
  }
}

TEST(is_ascii_finds_one_high_byte_anywhere) {
  for (std::size_t n = 0; n <= 140; ++n) {
    for (std::size_t high = 0; high <= n; ++high) {  // n: none
      std::vector<unsigned char> text(n + 1, 'a');
      if (high < n) text[1 + high] = 0x80;
      CHECK_EQ(bytes::scalar::is_ascii(text.data() + 1, n), high == n);
#if defined(KIVO_BYTE_KERNELS_SSE2)
      CHECK_EQ(bytes::sse2::is_ascii(text.data() + 1, n), high == n);
#endif
    }
  }
}
