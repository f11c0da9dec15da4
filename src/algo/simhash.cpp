#include "algo/simhash.hpp"

#include <array>
#include <bit>

#include "algo/shingles.hpp"
#include "base/hashing.hpp"
#include "text/utf8.hpp"

namespace kivo {

namespace {

// Entry b holds bit j of b in byte j, so one addition counts eight bits.
constexpr std::array<std::uint64_t, 256> kSpreadBits = [] {
  std::array<std::uint64_t, 256> table{};
  for (std::uint64_t b = 0; b < 256; ++b)
    for (int j = 0; j < 8; ++j) table[b] |= ((b >> j) & 1) << (8 * j);
  return table;
}();

// Counts, per bit position, the shingle hashes that have the bit set. Eight
// bits share one word of byte-wide counters, which is emptied into the full
// counts before any byte can overflow.
class BitCounter {
 public:
  void add(std::uint64_t h) {
    for (int k = 0; k < 8; ++k) packed_[k] += kSpreadBits[(h >> (8 * k)) & 0xff];
    ++total_;
    if (++pending_ == 255) flush();
  }

  // Bit i is set when more hashes have it set than clear: the vote
  // ones - (total - ones) is positive. A tie leaves it clear.
  std::uint64_t majority() {
    flush();
    std::uint64_t fingerprint = 0;
    for (int bit = 0; bit < 64; ++bit) fingerprint |= std::uint64_t(2 * ones_[bit] > total_) << bit;
    return fingerprint;
  }

 private:
  void flush() {
    for (int k = 0; k < 8; ++k) {
      for (int j = 0; j < 8; ++j) ones_[8 * k + j] += (packed_[k] >> (8 * j)) & 0xff;
      packed_[k] = 0;
    }
    pending_ = 0;
  }

  std::array<std::uint64_t, 8> packed_{};
  std::array<std::uint64_t, 64> ones_{};
  std::uint64_t total_ = 0;
  unsigned pending_ = 0;
};

}  // namespace

std::uint64_t simhash_fingerprint(std::string_view text, std::uint64_t shingle_size) {
  // Every shingle votes, repeats included: one occurring three times votes
  // three times.
  BitCounter counter;
  shingling::for_each(text, utf8::count_chars(text), shingle_size,
                      [&](std::string_view s) { counter.add(fnv1a64(s)); });
  return counter.majority();
}

double simhash_similarity(std::string_view a, std::string_view b, std::uint64_t shingle_size) {
  std::uint64_t fa = simhash_fingerprint(a, shingle_size);
  std::uint64_t fb = simhash_fingerprint(b, shingle_size);
  return simhash_fingerprint_similarity(fa, fb);
}

}  // namespace kivo
