// Counting kernels over byte arrays. Each comes in a scalar form, which is
// the definition, and an SSE2 form beside it that must give the same counts;
// the plain names take the SSE2 form on x86-64 and the scalar one elsewhere.
#pragma once

#include <cstddef>

#if defined(__SSE2__) && defined(__x86_64__)
#define KIVO_BYTE_KERNELS_SSE2 1
#endif

namespace kivo::bytes {

namespace scalar {
bool is_ascii(const unsigned char* s, std::size_t n);
std::size_t count_continuation(const unsigned char* s, std::size_t n);
std::size_t count_mismatches(const unsigned char* a, const unsigned char* b, std::size_t n);
}  // namespace scalar

#if defined(KIVO_BYTE_KERNELS_SSE2)
namespace sse2 {
bool is_ascii(const unsigned char* s, std::size_t n);
std::size_t count_continuation(const unsigned char* s, std::size_t n);
std::size_t count_mismatches(const unsigned char* a, const unsigned char* b, std::size_t n);
}  // namespace sse2
namespace chosen = sse2;
#else
namespace chosen = scalar;
#endif

// Whether every byte of s[0, n) is below 0x80.
inline bool is_ascii(const unsigned char* s, std::size_t n) {
  return chosen::is_ascii(s, n);
}

// Bytes 0x80-0xBF among s[0, n): the continuation bytes of UTF-8.
inline std::size_t count_continuation(const unsigned char* s, std::size_t n) {
  return chosen::count_continuation(s, n);
}

// Positions i < n where a[i] != b[i].
inline std::size_t count_mismatches(const unsigned char* a, const unsigned char* b, std::size_t n) {
  return chosen::count_mismatches(a, b, n);
}

}  // namespace kivo::bytes
