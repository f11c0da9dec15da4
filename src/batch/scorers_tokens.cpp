// The token ratios: each text is read once (its tokens sorted, joined and
// deduplicated) before it is scored, and each pair runs the single call's
// arithmetic on what was read.
#include <string_view>
#include <vector>

#include "algo/indel.hpp"
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

CharSpan span_of(std::u32string_view text) {
  return {text.data(), text.size(), sizeof(char32_t)};
}

// Choices are read ahead when several queries meet each of them; a few
// queries read each choice as they meet it, into the thread's own scratch.
constexpr std::size_t kQueriesToReadAhead = 3;

class TokenScorer final : public Scorer {
 public:
  TokenScorer(const Measure& measure, const Texts& queries, const Texts& choices)
      : Scorer(false),
        which_(ratio_of_row(measure)),
        query_texts_(queries),
        choice_texts_(choices),
        queries_(read_all(queries)) {
    if (&choices != &queries && queries.size() >= kQueriesToReadAhead) choices_ = read_all(choices);
  }

  std::optional<double> score(std::size_t i, std::size_t j, double bound) const override {
    const TokenedText& a = queries_[i];
    std::u32string_view text = choice_texts_.chars(j);
    // Past 0.95 only the plain ratio can reach a bound: every other term of
    // the blend is scaled to 0.95 or less. The blend is then that ratio.
    if (which_ == TokenRatio::Weighted && bound > 0.95 && !a.text.empty() && !text.empty()) {
      double plain = ratio(span_of(a.text), span_of(text));
      if (plain < bound) return std::nullopt;
      return plain;
    }
    return token_ratio(which_, a, choice(j));
  }

  // Choices by length, so that a rising bound past 0.95 skips the lengths
  // too far apart for the plain ratio to reach it.
  bool sorts_by_length() const override { return which_ == TokenRatio::Weighted; }
  bool lengths_may_pass(std::size_t a, std::size_t b, double bound) const override {
    if (which_ != TokenRatio::Weighted) return true;
    if (a == 0 || b == 0) return 0.0 >= bound;
    if (!(bound > 0.95)) return true;
    return indel_similarity_from(length_gap(a, b), a + b) >= bound;
  }

 private:
  const TokenedText& choice(std::size_t j) const {
    if (!choices_.empty()) return choices_[j];
    if (&choice_texts_ == &query_texts_) return queries_[j];
    thread_local TokenedText scratch;
    tokened_into(span_of(choice_texts_.chars(j)), scratch);
    return scratch;
  }

  TokenRatio which_;
  const Texts& query_texts_;
  const Texts& choice_texts_;
  std::vector<TokenedText> queries_;
  std::vector<TokenedText> choices_;  // read ahead, or empty
};

}  // namespace

std::unique_ptr<Scorer> make_token_scorer(const Measure& measure, const Texts& queries,
                                          const Texts& choices) {
  return std::make_unique<TokenScorer>(measure, queries, choices);
}

}  // namespace kivo::batch
