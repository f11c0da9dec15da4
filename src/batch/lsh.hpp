// MinHash signatures of many texts, and the candidate pairs of locality-
// sensitive hashing: texts whose signatures agree on every row of a band.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "batch/texts.hpp"

namespace kivo::batch {

// Row i of `out` (num_hashes entries) is the signature of text i.
void minhash_signatures(const Texts& texts, std::uint64_t shingle_size, std::uint64_t num_hashes,
                        std::uint64_t* out, const Pool& pool);

// A row-major matrix of signatures, one per row.
struct Signatures {
  const std::uint64_t* data;
  std::size_t count;
  std::size_t length;
};

// Every (i, j), i < j, whose signatures are equal on all `rows` entries of at
// least one of `bands` consecutive bands, once each, ordered.
std::vector<std::pair<std::int64_t, std::int64_t>> lsh_pairs(const Signatures& signatures,
                                                             std::size_t bands, std::size_t rows,
                                                             const Pool& pool);

}  // namespace kivo::batch
