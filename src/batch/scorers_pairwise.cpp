// Measures scored by their single call on each pair: the term weightings,
// whose corpus is the pair itself, and the router's tiers.
#include "algo/bm25.hpp"
#include "algo/tfidf.hpp"
#include "batch/scorers.hpp"

namespace kivo::batch {

namespace {

template <class Call>
class PairCallScorer final : public Scorer {
 public:
  PairCallScorer(Call measure, const Texts& queries, const Texts& choices)
      : Scorer(false), measure_(measure), queries_(queries), choices_(choices) {}

  std::optional<double> score(std::size_t i, std::size_t j, double) const override {
    return measure_(queries_.utf8(i), choices_.utf8(j));
  }

 private:
  Call measure_;
  const Texts& queries_;
  const Texts& choices_;
};

class FlowScorer final : public Scorer {
 public:
  FlowScorer(const Router& router, const Texts& queries, const Texts& choices)
      : Scorer(false), router_(router), queries_(queries), choices_(choices) {}

  std::optional<double> score(std::size_t i, std::size_t j, double) const override {
    Result<CompareResult> result = compare(router_, queries_.utf8(i), choices_.utf8(j));
    if (!result.ok()) throw PairFailure{std::move(result.failure())};
    return result.value().score;
  }
  bool may_fail() const override { return true; }

 private:
  const Router& router_;
  const Texts& queries_;
  const Texts& choices_;
};

template <class Call>
std::unique_ptr<Scorer> pair_call(Call measure, const Texts& queries, const Texts& choices) {
  return std::make_unique<PairCallScorer<Call>>(measure, queries, choices);
}

}  // namespace

std::unique_ptr<Scorer> make_pairwise_scorer(const ScorerSpec& spec, const Texts& queries,
                                             const Texts& choices) {
  using Call = double (*)(std::string_view, std::string_view);
  switch (spec.measure) {
    case Measure::Bm25: return pair_call<Call>(&bm25_similarity, queries, choices);
    case Measure::Tfidf: return pair_call<Call>(&tfidf_similarity, queries, choices);
    default:
      if (spec.router == nullptr) throw InternalFault("a flow scorer needs its router");
      return std::make_unique<FlowScorer>(*spec.router, queries, choices);
  }
}

}  // namespace kivo::batch
