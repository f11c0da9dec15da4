#include "batch/lsh.hpp"

#include <algorithm>
#include <cstring>

#include "algo/minhash.hpp"
#include "base/hashing.hpp"
#include "batch/scorer.hpp"

namespace kivo::batch {

void minhash_signatures(const Texts& texts, std::uint64_t shingle_size, std::uint64_t num_hashes,
                        std::uint64_t* out, const Pool& pool) {
  pool.for_each(texts.size(), [&](std::size_t i) {
    Result<std::vector<std::uint64_t>> signature =
        minhash_signature(texts.utf8(i), shingle_size, num_hashes);
    if (!signature.ok()) throw PairFailure{std::move(signature.failure())};
    const std::vector<std::uint64_t>& values = signature.value();
    std::copy(values.begin(), values.end(), out + i * num_hashes);
  });
}

namespace {

using Pair = std::pair<std::int64_t, std::int64_t>;

// The pairs that share band `band`. Texts are sorted by a keyed hash of
// their band, so equal bands sit side by side; within a run of equal hashes
// the bands themselves are compared.
std::vector<Pair> band_pairs(const Signatures& s, std::size_t band, std::size_t rows,
                             const Pool& pool) {
  const HashKey& key = process_key();
  auto values = [&](std::size_t i) { return s.data + i * s.length + band * rows; };
  std::vector<std::pair<std::uint64_t, std::size_t>> keyed(s.count);
  for (std::size_t i = 0; i < s.count; ++i) {
    std::uint64_t h = key.k0;
    const std::uint64_t* v = values(i);
    for (std::size_t r = 0; r < rows; ++r) h = mix64(h ^ v[r]) + key.k1;
    keyed[i] = {h, i};
  }
  std::sort(keyed.begin(), keyed.end());
  std::vector<Pair> out;
  for (std::size_t begin = 0, end; begin < keyed.size(); begin = end) {
    pool.check();
    end = begin + 1;
    while (end < keyed.size() && keyed[end].first == keyed[begin].first) ++end;
    for (std::size_t x = begin; x < end; ++x) {
      for (std::size_t y = x + 1; y < end; ++y) {
        std::size_t i = keyed[x].second;
        std::size_t j = keyed[y].second;
        if (std::memcmp(values(i), values(j), rows * sizeof(std::uint64_t)) == 0) {
          out.emplace_back(std::int64_t(i), std::int64_t(j));  // i < j: sorted by index
        }
      }
    }
  }
  return out;
}

}  // namespace

std::vector<Pair> lsh_pairs(const Signatures& signatures, std::size_t bands, std::size_t rows,
                            const Pool& pool) {
  std::vector<std::vector<Pair>> found(bands);
  pool.for_each(bands, [&](std::size_t b) { found[b] = band_pairs(signatures, b, rows, pool); });
  std::vector<Pair> all;
  for (std::vector<Pair>& band : found) {
    all.insert(all.end(), band.begin(), band.end());
    band = {};
  }
  std::sort(all.begin(), all.end());
  all.erase(std::unique(all.begin(), all.end()), all.end());
  return all;
}

}  // namespace kivo::batch
