// Ratios on the Indel similarity that forgive order and extra words: over
// code points, tokens being the maximal runs of non-White_Space characters.
// Every value lies in [0, 1].
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "text/char_span.hpp"

namespace kivo {

// The Indel similarity, 1 - d / (|a| + |b|).
double ratio(const CharSpan& a, const CharSpan& b);
// The best ratio of the shorter text against a window of the longer: every
// window of its length, and the shorter ones cut off at either end; for
// texts of equal length, the better of both ways round.
double partial_ratio(const CharSpan& a, const CharSpan& b);
// The ratio of the tokens of each text sorted and joined by single spaces.
double token_sort_ratio(const CharSpan& a, const CharSpan& b);
// 1.0 when one token set holds the other's tokens all and they share one;
// else the best of the ratios between the shared tokens and each side's
// shared-plus-own tokens. 0.0 when either side has no token.
double token_set_ratio(const CharSpan& a, const CharSpan& b);
double partial_token_sort_ratio(const CharSpan& a, const CharSpan& b);
// 1.0 when the texts share a token; else partial_ratio of the tokens each
// has alone. 0.0 when either side has no token.
double partial_token_set_ratio(const CharSpan& a, const CharSpan& b);
// The usual blend by the ratio of the lengths: close lengths take the token
// ratios at 0.95, longer ones the partial ratios at 0.9 (0.6 past eight times
// as long).
double weighted_ratio(const CharSpan& a, const CharSpan& b);

// A text read once for the ratios: its characters, its tokens sorted and
// joined by single spaces, and where its distinct tokens lie in that join.
struct TokenedText {
  using Place = std::pair<std::size_t, std::size_t>;  // start, length
  std::u32string text;
  std::u32string sorted;
  std::vector<Place> distinct;
  bool repeats = false;   // whether some token occurs more than once
  bool in_order = false;  // whether the sorted join is the text itself

  std::u32string_view token(std::size_t k) const {
    return std::u32string_view(sorted).substr(distinct[k].first, distinct[k].second);
  }
};
TokenedText tokened(const CharSpan& text);
// The same into `out`, reusing its buffers.
void tokened_into(const CharSpan& text, TokenedText& out);

enum class TokenRatio {
  Ratio,
  Partial,
  TokenSort,
  TokenSet,
  PartialTokenSort,
  PartialTokenSet,
  Weighted
};
// The ratio of two texts read once: the value of the function above.
double token_ratio(TokenRatio which, const TokenedText& a, const TokenedText& b);

}  // namespace kivo
