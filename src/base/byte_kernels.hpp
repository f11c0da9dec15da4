// Counting kernels over byte arrays. Each comes in a scalar form, which is
// the definition, and vector forms that must give the same counts: a
// portable one in the compiler's generic 16-byte vectors (SSE2 on x86-64,
// NEON on ARM) and an AVX2 one. The plain names take the form of
// simd::active().
#pragma once

#include <cstddef>

#include "base/simd.hpp"
#include "base/simd_target.hpp"

namespace kivo::bytes {

namespace scalar {
bool is_ascii(const unsigned char* s, std::size_t n);
std::size_t count_continuation(const unsigned char* s, std::size_t n);
std::size_t count_mismatches(const unsigned char* a, const unsigned char* b, std::size_t n);
}  // namespace scalar

namespace portable {
bool is_ascii(const unsigned char* s, std::size_t n);
std::size_t count_continuation(const unsigned char* s, std::size_t n);
std::size_t count_mismatches(const unsigned char* a, const unsigned char* b, std::size_t n);
}  // namespace portable

#ifdef KIVO_SIMD_X86
namespace avx2 {
bool is_ascii(const unsigned char* s, std::size_t n);
std::size_t count_continuation(const unsigned char* s, std::size_t n);
std::size_t count_mismatches(const unsigned char* a, const unsigned char* b, std::size_t n);
}  // namespace avx2
#endif

// Whether every byte of s[0, n) is below 0x80.
inline bool is_ascii(const unsigned char* s, std::size_t n) {
#ifdef KIVO_SIMD_X86
  if (simd::active() != simd::Isa::Portable) return avx2::is_ascii(s, n);
#endif
  return portable::is_ascii(s, n);
}

// Bytes 0x80-0xBF among s[0, n): the continuation bytes of UTF-8.
inline std::size_t count_continuation(const unsigned char* s, std::size_t n) {
#ifdef KIVO_SIMD_X86
  if (simd::active() != simd::Isa::Portable) return avx2::count_continuation(s, n);
#endif
  return portable::count_continuation(s, n);
}

// Positions i < n where a[i] != b[i].
inline std::size_t count_mismatches(const unsigned char* a, const unsigned char* b, std::size_t n) {
#ifdef KIVO_SIMD_X86
  if (simd::active() != simd::Isa::Portable) return avx2::count_mismatches(a, b, n);
#endif
  return portable::count_mismatches(a, b, n);
}

}  // namespace kivo::bytes
