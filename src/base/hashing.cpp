#include "base/hashing.hpp"

#include <atomic>
#include <chrono>
#include <cstring>
#include <exception>
#include <random>

namespace kivo {
namespace {

std::atomic<std::uint64_t> tables_keyed{0};

std::uint64_t entropy() {
  try {
    std::random_device source;
    return (std::uint64_t(source()) << 32) ^ source();
  } catch (const std::exception&) {
    // No entropy source: the clock and an address still differ between runs.
    auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    return mix64(std::uint64_t(ticks) ^ reinterpret_cast<std::uintptr_t>(&tables_keyed));
  }
}

}  // namespace

const HashKey& process_key() {
  static const HashKey key{entropy(), mix64(entropy() + 0x9e3779b97f4a7c15ULL)};
  return key;
}

std::uint64_t random_table_key() {
  return mix64(process_key().k0 + tables_keyed.fetch_add(1, std::memory_order_relaxed));
}

std::uint64_t keyed_hash(std::uint64_t k0, std::uint64_t k1, std::string_view bytes) {
  constexpr std::uint64_t kOdd1 = 0xa0761d6478bd642fULL;
  constexpr std::uint64_t kOdd2 = 0xe7037ed1a0b428dbULL;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t n = bytes.size();
  std::uint64_t h = k0 ^ (std::uint64_t(n) * kOdd1);
  std::uint64_t multiplier = (k1 | 1) ^ kOdd2;
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, p + i, 8);
    h = fold_multiply(h ^ word, multiplier);
  }
  std::uint64_t last = 0;
  if (n > i) std::memcpy(&last, p + i, n - i);
  h = fold_multiply(h ^ last, multiplier);
  return fold_multiply(h ^ kOdd1, k0 ^ kOdd2);
}

}  // namespace kivo
