// Bit counting that compiles to plain instructions on every x86-64: without
// -mpopcnt the compiler's popcount is a library call, which costs more than
// the few operations below in the short loops that use it.
#pragma once

#include <cstdint>

namespace kivo::bits {

inline unsigned popcount64(std::uint64_t x) {
  x = x - ((x >> 1) & 0x5555555555555555ULL);
  x = (x & 0x3333333333333333ULL) + ((x >> 2) & 0x3333333333333333ULL);
  x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0FULL;
  return unsigned((x * 0x0101010101010101ULL) >> 56);
}

// Number of bytes of x whose high bit is set.
inline unsigned count_high_bits(std::uint64_t x) {
  return unsigned((((x >> 7) & 0x0101010101010101ULL) * 0x0101010101010101ULL) >> 56);
}

}  // namespace kivo::bits
