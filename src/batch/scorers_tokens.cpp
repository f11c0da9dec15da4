// The token ratios: every text is read once (its tokens sorted, joined and
// deduplicated) before any pair is scored, and each pair runs the single
// call's arithmetic on what was read.
#include <string_view>
#include <vector>

#include "algo/token_ratios.hpp"
#include "base/cancel.hpp"
#include "batch/scorers.hpp"

namespace kivo::batch {

namespace {

TokenRatio ratio_of_row(const Measure& measure) {
  constexpr std::pair<std::string_view, TokenRatio> kRows[] = {
      {"ratio", TokenRatio::Ratio},
      {"partial_ratio", TokenRatio::Partial},
      {"token_sort_ratio", TokenRatio::TokenSort},
      {"token_set_ratio", TokenRatio::TokenSet},
      {"partial_token_sort_ratio", TokenRatio::PartialTokenSort},
      {"partial_token_set_ratio", TokenRatio::PartialTokenSet},
      {"weighted_ratio", TokenRatio::Weighted},
  };
  for (const auto& [name, which] : kRows) {
    if (measure.name == name) return which;
  }
  throw InternalFault("no token ratio is called " + std::string(measure.name));
}

std::vector<TokenedText> read_all(const Texts& texts) {
  std::vector<TokenedText> out;
  out.reserve(texts.size());
  cancel::Meter meter;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    std::u32string_view chars = texts.chars(i);
    meter.add(16 + chars.size());
    out.push_back(tokened({chars.data(), chars.size(), sizeof(char32_t)}));
  }
  return out;
}

class TokenScorer final : public Scorer {
 public:
  TokenScorer(const Measure& measure, const Texts& queries, const Texts& choices)
      : Scorer(false), which_(ratio_of_row(measure)), queries_(read_all(queries)) {
    if (&choices != &queries) choices_ = read_all(choices);
  }

  std::optional<double> score(std::size_t i, std::size_t j, double bound) const override {
    const std::vector<TokenedText>& choices = choices_.empty() ? queries_ : choices_;
    const TokenedText& a = queries_[i];
    const TokenedText& b = choices[j];
    // Past 0.95 only the plain ratio can reach a bound: every other term of
    // the blend is scaled to 0.95 or less. The blend is then that ratio.
    if (which_ == TokenRatio::Weighted && bound > 0.95 && !a.text.empty() && !b.text.empty()) {
      double plain = token_ratio(TokenRatio::Ratio, a, b);
      if (plain < bound) return std::nullopt;
      return plain;
    }
    return token_ratio(which_, a, b);
  }

 private:
  TokenRatio which_;
  std::vector<TokenedText> queries_;
  std::vector<TokenedText> choices_;  // empty for a self-join, whose choices are the queries
};

}  // namespace

std::unique_ptr<Scorer> make_token_scorer(const Measure& measure, const Texts& queries,
                                          const Texts& choices) {
  return std::make_unique<TokenScorer>(measure, queries, choices);
}

}  // namespace kivo::batch
