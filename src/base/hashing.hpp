// Every hash in kivo. Tables that untrusted text fills are keyed from one
// random key drawn once per process, so crafted input cannot steer entries
// onto one probe chain; nothing a caller reads depends on the key. FNV-1a is
// the exception: it defines MinHash and SimHash values, which must be the same
// in every process.
#pragma once

#include <cstdint>
#include <string_view>

namespace kivo {

struct HashKey {
  std::uint64_t k0, k1;
};

// Drawn once per process from the system's entropy source (the clock and an
// address when there is none).
const HashKey& process_key();

// A fresh key for one table: the process key mixed with a per-table counter.
std::uint64_t random_table_key();

// SplitMix64's finaliser: a bijection that spreads every input bit.
inline std::uint64_t mix64(std::uint64_t x) {
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

// 64 x 64 -> 128-bit multiply with the halves XOR-ed.
inline std::uint64_t fold_multiply(std::uint64_t a, std::uint64_t b) {
  unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
  return std::uint64_t(product) ^ std::uint64_t(product >> 64);
}

// Keyed hash of bytes: eight bytes per step, each folded in by a wide
// multiply. With the key secret, inputs cannot be steered in practice.
std::uint64_t keyed_hash(std::uint64_t k0, std::uint64_t k1, std::string_view bytes);

// keyed_hash under the process key.
inline std::uint64_t keyed_hash(std::string_view bytes) {
  const HashKey& key = process_key();
  return keyed_hash(key.k0, key.k1, bytes);
}

// Keyed hash of a code point, for open-addressing tables over characters; a
// table copies the key once and takes its slot from the top bits. The
// finaliser's rounds matter: under a keyed multiply alone those bits stay
// linear in the code point, and the code points that crowd a fixed
// multiplicative hash still crowded the tables of some keys.
inline std::uint64_t keyed_code_point_hash(char32_t c, std::uint64_t key) {
  return mix64(c ^ key);
}

inline constexpr std::uint64_t kFnvOffset = 0xcbf29ce484222325ULL;
inline constexpr std::uint64_t kFnvPrime = 0x100000001b3ULL;

// 64-bit FNV-1a: the one hash of MinHash and SimHash, fixed across processes.
inline std::uint64_t fnv1a64(std::string_view bytes) {
  std::uint64_t h = kFnvOffset;
  for (unsigned char c : bytes) {
    h ^= c;
    h *= kFnvPrime;
  }
  return h;
}

}  // namespace kivo
