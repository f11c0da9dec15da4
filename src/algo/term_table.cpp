#include "term_table.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <random>

#include "../error.hpp"

namespace kivo {
namespace {

struct SipState {
  std::uint64_t v0, v1, v2, v3;

  void round() {
    v0 += v1;
    v1 = std::rotl(v1, 13);
    v1 ^= v0;
    v0 = std::rotl(v0, 32);
    v2 += v3;
    v3 = std::rotl(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = std::rotl(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = std::rotl(v1, 17);
    v1 ^= v2;
    v2 = std::rotl(v2, 32);
  }

  void absorb(std::uint64_t m) {
    v3 ^= m;
    round();
    v0 ^= m;
  }
};

std::uint64_t load_le64(const unsigned char* p) {
  std::uint64_t m = 0;
  for (int i = 7; i >= 0; --i) m = (m << 8) | p[i];
  return m;
}

struct HashKey {
  std::uint64_t k0, k1;
};

const HashKey& process_key() {
  static const HashKey key = [] {
    std::random_device source;
    auto draw = [&] { return (std::uint64_t(source()) << 32) ^ source(); };
    return HashKey{draw(), draw()};
  }();
  return key;
}

std::uint64_t term_hash(std::string_view term) {
  const HashKey& key = process_key();
  return keyed_hash(key.k0, key.k1, term);
}

std::uint64_t fold(std::uint64_t a, std::uint64_t b) {
  unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
  return std::uint64_t(product) ^ std::uint64_t(product >> 64);
}

}  // namespace

std::uint64_t keyed_hash(std::uint64_t k0, std::uint64_t k1, std::string_view bytes) {
  constexpr std::uint64_t kOdd1 = 0xa0761d6478bd642fULL;
  constexpr std::uint64_t kOdd2 = 0xe7037ed1a0b428dbULL;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t n = bytes.size();
  std::uint64_t h = k0 ^ (std::uint64_t(n) * kOdd1);
  std::uint64_t multiplier = k1 | 1;
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, p + i, 8);
    h = fold(h ^ word, multiplier ^ kOdd2);
  }
  std::uint64_t last = 0;
  if (n > i) std::memcpy(&last, p + i, n - i);
  h = fold(h ^ last, multiplier ^ kOdd2);
  return fold(h ^ kOdd1, k0 ^ kOdd2);
}

std::uint64_t siphash13(std::uint64_t k0, std::uint64_t k1, std::string_view bytes) {
  SipState s{k0 ^ 0x736f6d6570736575ULL, k1 ^ 0x646f72616e646f6dULL, k0 ^ 0x6c7967656e657261ULL,
             k1 ^ 0x7465646279746573ULL};
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t n = bytes.size();
  std::size_t whole = n & ~std::size_t(7);
  for (std::size_t i = 0; i < whole; i += 8) s.absorb(load_le64(p + i));
  std::uint64_t last = std::uint64_t(n) << 56;
  for (std::size_t i = whole; i < n; ++i) last |= std::uint64_t(p[i]) << (8 * (i - whole));
  s.absorb(last);
  s.v2 ^= 0xff;
  for (int i = 0; i < 3; ++i) s.round();
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

TermTable::TermTable(std::size_t max_terms) : max_terms_(max_terms) {
  // At most half the slots are ever used, which keeps probe chains short.
  if (max_terms > (std::size_t(1) << (std::numeric_limits<std::size_t>::digits - 2))) {
    throw InternalFault("too many terms");
  }
  slots_.resize(std::bit_ceil(std::max<std::size_t>(2 * max_terms, 8)));
  entries_.reserve(max_terms);
}

std::size_t TermTable::probe(std::string_view term, std::uint64_t hash) const {
  std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const Slot& slot = slots_[i];
    if (slot.index == npos) return i;
    if (slot.hash == hash && entries_[slot.index].term == term) return i;
  }
}

std::size_t TermTable::intern(std::string_view term) {
  std::uint64_t hash = term_hash(term);
  Slot& slot = slots_[probe(term, hash)];
  if (slot.index != npos) return slot.index;
  if (entries_.size() == max_terms_) throw InternalFault("term table is full");
  slot = {hash, entries_.size()};
  entries_.push_back({term});
  return slot.index;
}

std::size_t TermTable::find(std::string_view term) const {
  return slots_[probe(term, term_hash(term))].index;
}

}  // namespace kivo
