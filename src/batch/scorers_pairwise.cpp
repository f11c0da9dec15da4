// Measures scored by their single call on each pair: the term weightings,
// whose corpus is the pair itself, the measures with no kernel of their
// own, and the router's tiers.
#include "batch/scorers.hpp"

namespace kivo::batch {

namespace {

CharSpan span_of(std::u32string_view text) {
  return {text.data(), text.size(), sizeof(char32_t)};
}

class EachPairScorer final : public Scorer {
 public:
  EachPairScorer(const Measure& measure, const Texts& queries, const Texts& choices)
      : Scorer(measure.distance), measure_(measure), queries_(queries), choices_(choices) {}

  std::optional<double> score(std::size_t i, std::size_t j, double) const override {
    Result<double> result =
        measure_.reads == Reads::Characters
            ? score_characters(measure_, span_of(queries_.chars(i)), span_of(choices_.chars(j)))
            : score_utf8(measure_, queries_.utf8(i), choices_.utf8(j));
    if (!result.ok()) throw PairFailure{std::move(result.failure())};
    return result.value();
  }

 private:
  const Measure& measure_;
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

}  // namespace

std::unique_ptr<Scorer> make_each_pair_scorer(const Measure& measure, const Texts& queries,
                                              const Texts& choices) {
  return std::make_unique<EachPairScorer>(measure, queries, choices);
}

std::unique_ptr<Scorer> make_flow_scorer(const ScorerSpec& spec, const Texts& queries,
                                         const Texts& choices) {
  if (spec.router == nullptr) throw InternalFault("a flow scorer needs its router");
  return std::make_unique<FlowScorer>(*spec.router, queries, choices);
}

}  // namespace kivo::batch
