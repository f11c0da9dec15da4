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

bool is_distance(Measure measure) {
  return measure == Measure::LevenshteinDistance || measure == Measure::HammingDistance;
}

TextNeeds text_needs(Measure measure) {
  switch (measure) {
    case Measure::LevenshteinDistance:
    case Measure::LevenshteinSimilarity:
    case Measure::HammingDistance:
    case Measure::HammingSimilarity:
    case Measure::JaroWinkler: return {false, true};
    default: return {true, false};
  }
}

std::unique_ptr<Block> Scorer::block() const {
  return std::make_unique<PairwiseBlock>(*this);
}

std::unique_ptr<Scorer> make_scorer(const ScorerSpec& spec, const Texts& queries,
                                    const Texts& choices, bool pairwise, const Pool& pool) {
  switch (spec.measure) {
    case Measure::LevenshteinDistance:
    case Measure::LevenshteinSimilarity:
    case Measure::JaroWinkler:
    case Measure::HammingDistance:
    case Measure::HammingSimilarity: return make_edit_scorer(spec.measure, queries, choices);
    case Measure::JaccardBigram:
    case Measure::JaccardTrigram:
    case Measure::JaccardWord:
    case Measure::MinHash:
    case Measure::SimHash: return make_set_scorer(spec.measure, queries, choices, pairwise, pool);
    case Measure::Bm25:
    case Measure::Tfidf:
    case Measure::Flow: return make_pairwise_scorer(spec, queries, choices);
  }
  throw InternalFault("unhandled measure");
}

}  // namespace kivo::batch
