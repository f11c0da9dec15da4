#include "base/byte_kernels.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "base/bits.hpp"

namespace kivo::bytes {

namespace {

constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

}  // namespace

namespace scalar {

namespace {

std::uint64_t load(const unsigned char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, 8);
  return word;
}

}  // namespace

bool is_ascii(const unsigned char* s, std::size_t n) {
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    if (load(s + i) & kHighBits) return false;
  }
  for (; i < n; ++i) {
    if (s[i] & 0x80) return false;
  }
  return true;
}

std::size_t count_continuation(const unsigned char* s, std::size_t n) {
  std::size_t count = 0;
  std::size_t i = 0;
  // A continuation byte is 10xxxxxx: bit 7 set, and bit 6, shifted onto it, clear.
  for (; i + 8 <= n; i += 8) {
    std::uint64_t word = load(s + i);
    count += bits::count_high_bits(word & ~(word << 1) & kHighBits);
  }
  for (; i < n; ++i) count += (s[i] & 0xC0) == 0x80;
  return count;
}

std::size_t count_mismatches(const unsigned char* a, const unsigned char* b, std::size_t n) {
  std::size_t count = 0;
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    // The high bit of each byte of `differ` is set where the bytes differ.
    std::uint64_t d = load(a + i) ^ load(b + i);
    std::uint64_t differ = ((d & ~kHighBits) + ~kHighBits) | d;
    count += bits::count_high_bits(differ & kHighBits);
  }
  for (; i < n; ++i) count += a[i] != b[i];
  return count;
}

}  // namespace scalar

namespace portable {

namespace {

// 16 bytes in the compiler's generic vectors; a comparison sets a lane to
// 0xFF where it holds.
typedef unsigned char Block __attribute__((vector_size(16)));
typedef signed char SignedBlock __attribute__((vector_size(16)));

Block load(const unsigned char* p) {
  Block v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Pairs of bytes summed into four 16-bit fields per half, then the eight
// fields (each at most 4 * 255) summed by one multiplication.
std::size_t sum_bytes(Block v) {
  constexpr std::uint64_t kLowBytes = 0x00FF00FF00FF00FFULL;
  std::uint64_t half[2];
  std::memcpy(half, &v, sizeof half);
  std::uint64_t fields = (half[0] & kLowBytes) + ((half[0] >> 8) & kLowBytes) +
                         (half[1] & kLowBytes) + ((half[1] >> 8) & kLowBytes);
  return std::size_t((fields * 0x0001000100010001ULL) >> 48);
}

// Counts the lanes that `mark(i)` sets in the 16-byte blocks from i on, and
// moves i past the last whole block. A set lane is -1, subtracted from an
// eight-bit counter, so the counters are summed every 255 blocks, before
// they can wrap.
template <class Mark>
std::size_t count_marked_lanes(std::size_t& i, std::size_t n, Mark mark) {
  std::size_t total = 0;
  while (i + 16 <= n) {
    Block lanes = {};
    std::size_t stop = std::min(n - 15, i + 255 * 16);
    for (; i < stop; i += 16) lanes -= mark(i);
    total += sum_bytes(lanes);
  }
  return total;
}

}  // namespace

bool is_ascii(const unsigned char* s, std::size_t n) {
  // 64 bytes OR-ed together per test: few branches, and still an early stop
  // on a long non-ASCII text.
  std::size_t i = 0;
  for (; i + 64 <= n; i += 64) {
    Block any = load(s + i) | load(s + i + 16) | load(s + i + 32) | load(s + i + 48);
    std::uint64_t half[2];
    std::memcpy(half, &any, sizeof half);
    if ((half[0] | half[1]) & kHighBits) return false;
  }
  return scalar::is_ascii(s + i, n - i);
}

std::size_t count_continuation(const unsigned char* s, std::size_t n) {
  // As signed bytes, continuation bytes are exactly those below -64.
  std::size_t i = 0;
  std::size_t count = count_marked_lanes(
      i, n, [&](std::size_t at) { return Block(SignedBlock(load(s + at)) < -64); });
  return count + scalar::count_continuation(s + i, n - i);
}

std::size_t count_mismatches(const unsigned char* a, const unsigned char* b, std::size_t n) {
  std::size_t i = 0;
  std::size_t equal =
      count_marked_lanes(i, n, [&](std::size_t at) { return Block(load(a + at) == load(b + at)); });
  return (i - equal) + scalar::count_mismatches(a + i, b + i, n - i);
}

}  // namespace portable

}  // namespace kivo::bytes
