// MinHash signatures of many texts, and the candidate pairs of locality-
// sensitive hashing: texts whose signatures agree on every row of a band.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/hashing.hpp"
#include "batch/texts.hpp"

namespace kivo::batch {

// Row i of `out` (num_hashes entries) is the signature of text i.
void minhash_signatures(const Texts& texts, std::uint64_t shingle_size, std::uint64_t num_hashes,
                        std::uint64_t* out, const Pool& pool);

// Signatures of `length` values each, one per row: a row-major matrix at
// `data`, or, where `blocks` is given, rows in blocks of 2**block_shift,
// each block a row-major matrix of its own.
struct Signatures {
  const std::uint64_t* data;
  std::size_t count;
  std::size_t length;
  const std::uint64_t* const* blocks = nullptr;
  unsigned block_shift = 0;

  const std::uint64_t* row(std::size_t i) const {
    if (blocks == nullptr) return data + i * length;
    std::size_t within = i & ((std::size_t(1) << block_shift) - 1);
    return blocks[i >> block_shift] + within * length;
  }
};

// The keyed hash of one band's `rows` values: equal bands hash alike, and
// crafted signatures cannot make distinct bands collide in practice. Keyed
// per process, so never stored.
inline std::uint64_t band_hash(const std::uint64_t* values, std::size_t rows) {
  const HashKey& key = process_key();
  std::uint64_t h = key.k0;
  for (std::size_t r = 0; r < rows; ++r) h = mix64(h ^ values[r]) + key.k1;
  return h;
}

// Every (i, j), i < j, whose signatures are equal on all `rows` entries of at
// least one of `bands` consecutive bands, once each, ordered by (i, j).
//
// The constructor sorts each band's signatures into buckets of equal values
// and counts the pairs of every text i (its partners j > i); write() then
// puts them where the caller wants them, so that they are held once, in the
// caller's memory. A pair is taken in the first band where the two texts
// share a bucket only, and a bucket's texts are listed once per band: the
// memory besides the result grows with the texts times the bands, never with
// the pairs. Both steps check for cancellation inside every bucket. The
// signatures are read by the constructor alone.
class LshPairs {
 public:
  // Texts are numbered in 32 bits below 2**30 of them; `wide` (for tests)
  // numbers them in 64 bits whatever their count.
  LshPairs(const Signatures& signatures, std::size_t bands, std::size_t rows, const Pool& pool,
           bool wide = false);
  LshPairs(const LshPairs&) = delete;
  LshPairs& operator=(const LshPairs&) = delete;
  ~LshPairs();

  std::size_t size() const;
  // Pair n into first[n] and second[n], for every n below size().
  void write(std::int64_t* first, std::int64_t* second, const Pool& pool) const;

  class Found;  // the buckets of every band, and where each text's pairs go

 private:
  std::unique_ptr<const Found> found_;
};

}  // namespace kivo::batch
