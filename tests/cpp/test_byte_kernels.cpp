// The byte kernels' forms against plain loops, at lengths around the 8-byte
// words, the 16- and 32-byte blocks and the 255-block lane sums, and
// unaligned: every form this processor runs, and the plain names under each
// limit of simd::active().
#include <cstdint>
#include <random>
#include <vector>

#include "base/byte_kernels.hpp"
#include "base/simd.hpp"
#include "harness.hpp"

using namespace kivo;

namespace {

struct Forms {
  bool (*is_ascii)(const unsigned char*, std::size_t);
  std::size_t (*count_continuation)(const unsigned char*, std::size_t);
  std::size_t (*count_mismatches)(const unsigned char*, const unsigned char*, std::size_t);
};

// Each form the processor runs, and the dispatching names under each limit.
template <class Check>
void for_each_form(Check check) {
  check(Forms{bytes::scalar::is_ascii, bytes::scalar::count_continuation,
              bytes::scalar::count_mismatches});
  check(Forms{bytes::portable::is_ascii, bytes::portable::count_continuation,
              bytes::portable::count_mismatches});
#ifdef KIVO_SIMD_X86
  if (simd::supported(simd::Isa::Avx2)) {
    check(Forms{bytes::avx2::is_ascii, bytes::avx2::count_continuation,
                bytes::avx2::count_mismatches});
  }
#endif
  simd::Isa before = simd::active();
  for (simd::Isa isa : {simd::Isa::Portable, simd::Isa::Avx2, simd::Isa::Avx512}) {
    simd::limit(isa);
    check(Forms{bytes::is_ascii, bytes::count_continuation, bytes::count_mismatches});
  }
  simd::limit(before);
}

}  // namespace

TEST(byte_kernels_agree_with_plain_loops) {
  std::mt19937 rng(11);
  std::vector<std::size_t> lengths;
  for (std::size_t edge : {0u, 8u, 16u, 32u, 64u, 128u, 255u * 16, 255u * 32, 255u * 64}) {
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
        for_each_form([&](Forms form) {
          CHECK_EQ(form.count_continuation(a.data() + at, n), continuation);
          CHECK_EQ(form.count_mismatches(a.data() + at, b.data() + at, n), mismatches);
        });
      }
    }
  }
}

TEST(is_ascii_finds_one_high_byte_anywhere) {
  for (std::size_t n = 0; n <= 140; ++n) {
    for (std::size_t high = 0; high <= n; ++high) {  // n: none
      std::vector<unsigned char> text(n + 1, 'a');
      if (high < n) text[1 + high] = 0x80;
      for_each_form([&](Forms form) { CHECK_EQ(form.is_ascii(text.data() + 1, n), high == n); });
    }
  }
}
