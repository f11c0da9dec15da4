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
// the lower index; -1 in both outputs where fewer than k pass. Scores are
// int64 distances or float64 similarities.
void topk(const Problem& problem, std::size_t k, double cutoff, std::int64_t* indices,
          Output scores);

// topk() of a single query, with a symmetric scorer made the other way
// round: the choices as its queries, so that blocks of them share one kernel
// call, and the query as its one choice. The same results as topk().
void topk_of_one(const Problem& transposed, std::size_t k, double cutoff, std::int64_t* indices,
                 Output scores);

// The pairs that passed a cutoff, kept as each block found them until their
// number is known and the outputs can be made.
class PairList {
 public:
  std::size_t size() const { return found_.size(); }
  // Pair n into position n of each output, ordered by (i, j). Scores are
  // int64 distances or float64 similarities.
  void write(std::int64_t* first, std::int64_t* second, Output scores) const;

 private:
  friend PairList pairs(const Problem& problem, bool self, double cutoff);
  struct Found {
    std::int64_t i, j;
    double score;
  };
  template <class T>
  void write_as(std::int64_t* first, std::int64_t* second, T* scores) const;
  void order();

  std::vector<std::vector<Found>> blocks_;  // as the sweep's blocks found them
  std::vector<Found> found_;                // then all, ordered by (i, j)
};
// The pairs that pass the cutoff: every (i, j), or with `self` (choices are
// the queries) every i < j.
PairList pairs(const Problem& problem, bool self, double cutoff);

}  // namespace kivo::batch
