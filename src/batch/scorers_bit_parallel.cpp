// Optimal string alignment and the LCS measures (Indel, LCS similarity):
// each query's position masks are built once per block and every choice
// runs down them as the text, a bit-parallel column per character.
#include <cmath>
#include <optional>
#include <vector>

#include "algo/bit_parallel_kernels.hpp"
#include "algo/score_arithmetic.hpp"
#include "batch/scorers.hpp"

namespace kivo::batch {

namespace {

CharSpan span_of(std::u32string_view text) {
  return {text.data(), text.size(), sizeof(char32_t)};
}

class BitParallelScorer final : public Scorer {
 public:
  BitParallelScorer(const Measure& measure, const Texts& queries, const Texts& choices)
      : Scorer(measure.distance), measure_(measure), queries_(queries), choices_(choices) {}

  std::optional<double> score(std::size_t i, std::size_t j, double) const override {
    Result<double> result =
        score_characters(measure_, span_of(queries_.chars(i)), span_of(choices_.chars(j)));
    if (!result.ok()) throw PairFailure{std::move(result.failure())};
    return result.value();
  }

  std::unique_ptr<Block> block() const override;
  // Only equal texts have no edit, or all characters in common.
  bool best_means_equal() const override { return true; }
  // The best score texts of these lengths can have: the length gap in edits.
  bool lengths_may_pass(std::size_t a, std::size_t b, double bound) const override {
    std::uint64_t best = measure_.kernel == BatchKernel::Osa ? length_gap(a, b) : std::min(a, b);
    return passes(score_of(best, a, b), bound);
  }

  // The measure's score from the kernel's count: the OSA distance, or the
  // LCS. The same arithmetic as the single call's, so the same bits.
  double score_of(std::uint64_t count, std::size_t a, std::size_t b) const {
    std::uint64_t longest = std::max(a, b);
    if (measure_.kernel == BatchKernel::Osa) {
      return measure_.distance ? double(count) : levenshtein_similarity_from(count, longest);
    }
    std::uint64_t indel = a + b - 2 * count;
    if (measure_.distance) return double(indel);
    if (measure_.distance_sums_lengths) return levenshtein_similarity_from(indel, a + b);
    return levenshtein_similarity_from(longest - count, longest);
  }

  const Measure& measure_;
  const Texts& queries_;
  const Texts& choices_;
};

class BitParallelBlock final : public Block {
 public:
  explicit BitParallelBlock(const BitParallelScorer& scorer) : scorer_(scorer) {}

  void load(std::span<const std::size_t> queries) override {
    queries_ = queries;
    masks_.clear();
    for (std::size_t i : queries) {
      std::u32string_view query = scorer_.queries_.chars(i);
      if (query.empty()) {
        masks_.emplace_back(std::nullopt);
      } else {
        masks_.emplace_back(std::in_place, std::span<const char32_t>(query));
      }
    }
  }

  void score(std::size_t choice, const double* bounds, double* out) override {
    std::u32string_view text = scorer_.choices_.chars(choice);
    std::span<const char32_t> columns(text);
    bool osa = scorer_.measure_.kernel == BatchKernel::Osa;
    for (std::size_t k = 0; k < queries_.size(); ++k) {
      std::size_t m = scorer_.queries_.length(queries_[k]);
      if (!scorer_.lengths_may_pass(m, text.size(), bounds[k])) {
        out[k] = NAN;
        continue;
      }
      std::uint64_t count = 0;
      if (m == 0) {
        count = osa ? text.size() : 0;
      } else {
        bitpar::BlockMasks& masks = *masks_[k];
        auto eq = [&](char32_t c) { return masks.get(c)[0]; };
        if (osa) {
          count =
              m <= 64 ? bitpar::osa_word(eq, m, columns) : bitpar::osa_blocks(masks, m, columns);
        } else {
          count =
              m <= 64 ? bitpar::lcs_word(eq, m, columns) : bitpar::lcs_blocks(masks, m, columns);
        }
      }
      out[k] = scorer_.score_of(count, m, text.size());
    }
  }

 private:
  const BitParallelScorer& scorer_;
  std::span<const std::size_t> queries_;
  std::vector<std::optional<bitpar::BlockMasks>> masks_;
};

std::unique_ptr<Block> BitParallelScorer::block() const {
  return std::make_unique<BitParallelBlock>(*this);
}

}  // namespace

std::unique_ptr<Scorer> make_bit_parallel_scorer(const Measure& measure, const Texts& queries,
                                                 const Texts& choices) {
  return std::make_unique<BitParallelScorer>(measure, queries, choices);
}

}  // namespace kivo::batch
