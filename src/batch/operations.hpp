// The many-to-many operations over two prepared lists of texts. Cutoffs are
// inclusive bounds (a distance's largest kept value, a similarity's smallest;
// +inf or -inf when there is none). A failing pair is thrown as PairFailure:
// always the first in row-major order, whatever the threads did.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "batch/output.hpp"
#include "batch/scorer.hpp"

namespace kivo::batch {

struct Problem {
  const Texts& queries;
  const Texts& choices;
  const Scorer& scorer;
  const Pool& pool;
};

// Every score, row by row; a pair below the cutoff gets `fill`.
void cdist(const Problem& problem, double cutoff, double fill, Output out);
// The score of each query against the choice at its own index.
void cpdist(const Problem& problem, double cutoff, double fill, Output out);

// The k best choices of each query that pass the cutoff, best first, ties to
// the lower index; -1 in both outputs where fewer than k pass.
void topk(const Problem& problem, std::size_t k, double cutoff, Output indices, Output scores);

struct PairList {
  std::vector<std::int64_t> first;
  std::vector<std::int64_t> second;
  std::vector<double> scores;
};
// The pairs that pass the cutoff, ordered by (i, j): every (i, j), or with
// `self` (choices are the queries) every i < j.
PairList pairs(const Problem& problem, bool self, double cutoff);

}  // namespace kivo::batch
