#include "batch/scorer.hpp"

#include <cmath>
#include <vector>

#include "batch/scorers.hpp"

namespace kivo::batch {

namespace {

// One pair at a time: the block of every measure without a many-strings kernel.
class PairwiseBlock final : public Block {
 public:
  explicit PairwiseBlock(const Scorer& scorer) : scorer_(scorer) {}

  void load(std::span<const std::size_t> queries) override { queries_ = queries; }
  void score(std::size_t choice, const double* bounds, double* out) override {
    for (std::size_t k = 0; k < queries_.size(); ++k) {
      std::optional<double> s = scorer_.score(queries_[k], choice, bounds[k]);
      out[k] = s ? *s : NAN;
    }
  }

 private:
  const Scorer& scorer_;
  std::span<const std::size_t> queries_;
};

}  // namespace

TextNeeds ScorerSpec::needs() const {
  if (measure != nullptr && measure->reads == Reads::Characters) return {false, true};
  return {true, false};
}

bool ScorerSpec::symmetric() const {
  if (measure == nullptr) return false;
  switch (measure->kernel) {
    case BatchKernel::Levenshtein:
    case BatchKernel::JaroWinkler:
    case BatchKernel::Osa:
    case BatchKernel::Lcs: return true;
    default: return false;
  }
}

void Block::score_tile(std::span<const std::size_t> choices, const double* bounds, std::size_t rows,
                       double* tile) {
  // Lane blocks have at most 64 rows: their columns stay on the stack.
  constexpr std::size_t kStackRows = 64;
  double stack[2 * kStackRows];
  std::vector<double> heap(rows > kStackRows ? 2 * rows : 0);
  double* first = rows > kStackRows ? heap.data() : stack;
  double* second = first + rows;
  std::size_t columns = choices.size();
  for (std::size_t c = 0; c < columns; c += 2) {
    if (c + 1 < columns) {
      score_two(choices[c], choices[c + 1], bounds, first, second);
      for (std::size_t k = 0; k < rows; ++k) tile[k * columns + c + 1] = second[k];
    } else {
      score(choices[c], bounds, first);
    }
    for (std::size_t k = 0; k < rows; ++k) tile[k * columns + c] = first[k];
  }
}

std::unique_ptr<Block> Scorer::block() const {
  return std::make_unique<PairwiseBlock>(*this);
}

std::unique_ptr<Scorer> make_scorer(const ScorerSpec& spec, const Texts& queries,
                                    const Texts& choices, bool pairwise, const Pool& pool) {
  if (spec.measure == nullptr) return make_flow_scorer(spec, queries, choices);
  const Measure& measure = *spec.measure;
  switch (measure.kernel) {
    case BatchKernel::Levenshtein:
    case BatchKernel::JaroWinkler:
    case BatchKernel::Hamming: return make_edit_scorer(measure, queries, choices);
    case BatchKernel::CharGrams:
    case BatchKernel::Words:
    case BatchKernel::MinHash:
    case BatchKernel::SimHash: return make_set_scorer(measure, queries, choices, pairwise, pool);
    case BatchKernel::Osa:
    case BatchKernel::Lcs: return make_bit_parallel_scorer(measure, queries, choices);
    case BatchKernel::Tokens: return make_token_scorer(measure, queries, choices);
    case BatchKernel::EachPair: return make_each_pair_scorer(measure, queries, choices);
  }
  throw InternalFault("unhandled measure");
}

}  // namespace kivo::batch
