#include "algo/char_histogram.hpp"

#include <algorithm>
#include <array>
#include <cstring>

namespace kivo {

namespace {

// Lower- and upper-case letters and digits own a class each, the space
// another; other ASCII shares the last. Other characters spread over all 64
// by a multiplicative hash: any grouping keeps the bound, a finer one
// tightens it.
constexpr std::array<std::uint8_t, 128> kAsciiClass = [] {
  std::array<std::uint8_t, 128> classes{};
  classes.fill(63);
  for (int c = 0; c < 26; ++c) {
    classes['a' + c] = std::uint8_t(c);
    classes['A' + c] = std::uint8_t(26 + c);
  }
  for (int c = 0; c < 10; ++c) classes['0' + c] = std::uint8_t(52 + c);
  classes[' '] = 62;
  return classes;
}();

unsigned class_of(char32_t c) {
  return c < 128 ? kAsciiClass[c] : unsigned((std::uint32_t(c) * 0x9E3779B1u) >> 26);
}

}  // namespace

CharHistogram char_histogram(std::u32string_view text) {
  CharHistogram h{};
  for (char32_t c : text) {
    std::uint8_t& count = h.counts[class_of(c)];
    count = std::uint8_t(count + (count != 255));
  }
  return h;
}

namespace {

// 16 counts in the compiler's generic vectors.
typedef std::uint8_t Counts __attribute__((vector_size(16)));

// The bytes of `v` summed four by four into four 16-bit fields (each at most 1020).
std::uint64_t byte_pairs(Counts v) {
  constexpr std::uint64_t kLowBytes = 0x00FF00FF00FF00FFULL;
  std::uint64_t half[2];
  std::memcpy(half, &v, sizeof half);
  return (half[0] & kLowBytes) + ((half[0] >> 8) & kLowBytes) + (half[1] & kLowBytes) +
         ((half[1] >> 8) & kLowBytes);
}

}  // namespace

std::uint64_t edit_lower_bound(const CharHistogram& a, const CharHistogram& b) {
  // Four blocks of 16 classes; the 16-bit fields stay below 4 * 1020, and
  // their sum, by one multiplication, below 2^16.
  std::uint64_t surplus = 0;
  std::uint64_t deficit = 0;
  for (int k = 0; k < 64; k += 16) {
    Counts x;
    Counts y;
    std::memcpy(&x, a.counts + k, 16);
    std::memcpy(&y, b.counts + k, 16);
    Counts low = x < y ? x : y;
    surplus += byte_pairs(x - low);
    deficit += byte_pairs(y - low);
  }
  constexpr std::uint64_t kFieldSum = 0x0001000100010001ULL;
  return std::max((surplus * kFieldSum) >> 48, (deficit * kFieldSum) >> 48);
}

std::uint64_t common_count_bound(const CharHistogram& a, const CharHistogram& b) {
  std::uint64_t common = 0;
  bool saturated = false;
  for (int k = 0; k < 64; ++k) {
    common += std::min(a.counts[k], b.counts[k]);
    saturated |= a.counts[k] == 255 || b.counts[k] == 255;
  }
  return saturated ? ~std::uint64_t(0) : common;
}

}  // namespace kivo
