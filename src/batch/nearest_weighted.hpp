// The best of many choices for one query under weighted_ratio, one choice at
// a time: the query is tokenized once, each choice into the same buffers.
// Its lengths alone bound what a choice can score; and once the best so far
// passes what any token ratio can reach (0.95), only the plain ratio can beat
// it, and is then the score, so the search continues as NearestChoice's.
#pragma once

#include <cstddef>
#include <cstdint>

#include "algo/measures.hpp"
#include "algo/token_ratios.hpp"
#include "batch/nearest.hpp"

namespace kivo::batch {

class NearestWeighted {
 public:
  using Outcome = NearestChoice::Outcome;

  static bool serves(const Measure& measure);

  // `cutoff` is the smallest score that passes.
  NearestWeighted(const CharSpan& query, double cutoff);

  // As NearestChoice::offer.
  Outcome offer(const CharSpan& choice, std::size_t index);

  bool found() const { return found_; }
  std::size_t index() const { return index_; }
  double score() const { return score_; }
  std::uint64_t cost(std::size_t length) const;

 private:
  // The most a choice of `length` characters can score (the query and it
  // hold some).
  double upper_bound(std::size_t length) const;
  Outcome take(double score, std::size_t index);

  TokenedText query_;
  TokenedText choice_;  // the buffers each choice is read into
  NearestChoice ratio_;
  double bound_;  // inclusive: the cutoff, then just above the best so far
  bool found_ = false;
  std::size_t index_ = 0;
  double score_ = 0;
};

}  // namespace kivo::batch
