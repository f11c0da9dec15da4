// 64-bit FNV-1a: the one hash of MinHash and SimHash, fixed across processes.
#pragma once

#include <cstdint>
#include <string_view>

namespace kivo {

inline constexpr std::uint64_t kFnvOffset = 0xcbf29ce484222325ULL;
inline constexpr std::uint64_t kFnvPrime = 0x100000001b3ULL;

inline std::uint64_t fnv1a64(std::string_view bytes) {
  std::uint64_t h = kFnvOffset;
  for (unsigned char c : bytes) {
    h ^= c;
    h *= kFnvPrime;
  }
  return h;
}

}  // namespace kivo
