#include "algo/token_ratios.hpp"

#include <algorithm>
#include <string>
#include <vector>

#include "algo/bit_parallel.hpp"
#include "algo/bit_parallel_kernels.hpp"
#include "algo/indel.hpp"
#include "base/cancel.hpp"
#include "text/char_class.hpp"

namespace kivo {

namespace {

using Text = std::u32string;

Text text_of(const CharSpan& span) {
  return visit_units(span, [](auto units) { return Text(units.begin(), units.end()); });
}

CharSpan span_of(const Text& text) {
  return {text.data(), text.size(), sizeof(char32_t)};
}

double ratio_of(const Text& a, const Text& b) {
  return ratio(span_of(a), span_of(b));
}

std::vector<Text> tokens_of(const CharSpan& span) {
  std::vector<Text> tokens;
  visit_units(span, [&](auto units) {
    std::size_t i = 0;
    while (i < units.size()) {
      while (i < units.size() && is_whitespace(char32_t(units[i]))) ++i;
      std::size_t start = i;
      while (i < units.size() && !is_whitespace(char32_t(units[i]))) ++i;
      if (i > start) tokens.emplace_back(units.begin() + start, units.begin() + i);
    }
  });
  return tokens;
}

Text joined(const std::vector<Text>& tokens) {
  Text out;
  for (std::size_t k = 0; k < tokens.size(); ++k) {
    if (k > 0) out += U' ';
    out += tokens[k];
  }
  return out;
}

// The distinct tokens of both texts: those they share and each one's own,
// each sorted.
struct TokenSets {
  std::vector<Text> shared, only_a, only_b;
  bool either_empty;

  TokenSets(const std::vector<Text>& x, const std::vector<Text>& y)
      : either_empty(x.empty() || y.empty()) {
    std::set_intersection(x.begin(), x.end(), y.begin(), y.end(), std::back_inserter(shared));
    std::set_difference(x.begin(), x.end(), y.begin(), y.end(), std::back_inserter(only_a));
    std::set_difference(y.begin(), y.end(), x.begin(), x.end(), std::back_inserter(only_b));
  }
};

// partial_ratio with `needle` no longer than `hay`, both non-empty. A
// window's LCS is at most the characters it shares with the needle (as
// multisets), counted as the window slides; only windows whose bound beats
// the best so far are measured.
double partial_windows(const Text& needle, const Text& hay) {
  std::size_t n = needle.size(), h = hay.size();
  std::span<const char32_t> pattern(needle);
  bitpar::DenseIds ids(pattern);
  for (char32_t c : needle) ids.add(c);
  std::vector<std::size_t> wanted(ids.count(), 0);
  for (char32_t c : needle) ++wanted[ids.find(c)];
  std::vector<std::size_t> held(ids.count(), 0);
  std::size_t shared = 0;  // characters of the window the needle can match
  auto enter = [&](char32_t c) {
    std::uint32_t id = ids.find(c);
    if (id != bitpar::DenseIds::kNone && held[id]++ < wanted[id]) ++shared;
  };
  auto leave = [&](char32_t c) {
    std::uint32_t id = ids.find(c);
    if (id != bitpar::DenseIds::kNone && --held[id] < wanted[id]) --shared;
  };
  // The needle's masks, built once for every window.
  bitpar::BlockMasks masks(pattern);
  auto eq = [&](char32_t c) { return masks.get(c)[0]; };
  double best = 0.0;
  auto consider = [&](std::size_t start, std::size_t length) {
    double total = double(n + length);
    if (1.0 - double(n + length - 2 * shared) / total <= best) return;
    std::span<const char32_t> window(hay.data() + start, length);
    std::uint64_t common =
        n <= 64 ? bitpar::lcs_word(eq, n, window) : bitpar::lcs_blocks(masks, n, window);
    best = std::max(best, indel_similarity_from(n + length - 2 * common, n + length));
  };
  cancel::Meter meter;
  // Windows cut off at the start: hay[0:k] for k < n.
  for (std::size_t k = 1; k < n && best < 1.0; ++k) {
    meter.add(n);
    enter(hay[k - 1]);
    consider(0, k);
  }
  // Full windows hay[s:s + n].
  std::fill(held.begin(), held.end(), 0);
  shared = 0;
  for (std::size_t k = 0; k < n; ++k) enter(hay[k]);
  for (std::size_t s = 0; s + n <= h && best < 1.0; ++s) {
    meter.add(n);
    if (s > 0) {
      leave(hay[s - 1]);
      enter(hay[s + n - 1]);
    }
    consider(s, n);
  }
  // Windows cut off at the end: hay[h - k:] for k < n.
  std::fill(held.begin(), held.end(), 0);
  shared = 0;
  for (std::size_t k = 1; k < n && best < 1.0; ++k) {
    meter.add(n);
    enter(hay[h - k]);
    consider(h - k, k);
  }
  return best;
}

double partial_of(const Text& a, const Text& b) {
  if (a.empty() && b.empty()) return 1.0;
  if (a.empty() || b.empty()) return 0.0;
  if (a.size() < b.size()) return partial_windows(a, b);
  if (a.size() > b.size()) return partial_windows(b, a);
  return std::max(partial_windows(a, b), partial_windows(b, a));
}

double token_set_of(const TokenSets& sets) {
  if (sets.either_empty) return 0.0;
  if (!sets.shared.empty() && (sets.only_a.empty() || sets.only_b.empty())) return 1.0;
  Text shared = joined(sets.shared);
  auto with_shared = [&](const std::vector<Text>& own) {
    Text own_text = joined(own);
    if (shared.empty()) return own_text;
    return shared + U' ' + own_text;
  };
  Text first = with_shared(sets.only_a), second = with_shared(sets.only_b);
  return std::max({ratio_of(shared, first), ratio_of(shared, second), ratio_of(first, second)});
}

double partial_token_set_of(const TokenSets& sets) {
  if (sets.either_empty) return 0.0;
  if (!sets.shared.empty()) return 1.0;
  return partial_of(joined(sets.only_a), joined(sets.only_b));
}

}  // namespace

TokenedText tokened(const CharSpan& span) {
  TokenedText out{text_of(span), {}, tokens_of(span)};
  std::sort(out.distinct.begin(), out.distinct.end());
  out.sorted = joined(out.distinct);
  out.distinct.erase(std::unique(out.distinct.begin(), out.distinct.end()), out.distinct.end());
  return out;
}

double token_ratio(TokenRatio which, const TokenedText& a, const TokenedText& b) {
  switch (which) {
    case TokenRatio::Ratio: return ratio_of(a.text, b.text);
    case TokenRatio::Partial: return partial_of(a.text, b.text);
    case TokenRatio::TokenSort: return ratio_of(a.sorted, b.sorted);
    case TokenRatio::TokenSet: return token_set_of(TokenSets(a.distinct, b.distinct));
    case TokenRatio::PartialTokenSort: return partial_of(a.sorted, b.sorted);
    case TokenRatio::PartialTokenSet:
      return partial_token_set_of(TokenSets(a.distinct, b.distinct));
    case TokenRatio::Weighted: break;
  }
  constexpr double kTokenScale = 0.95;
  std::size_t la = a.text.size(), lb = b.text.size();
  if (la == 0 || lb == 0) return 0.0;
  double length_ratio = double(std::max(la, lb)) / double(std::min(la, lb));
  double best = ratio_of(a.text, b.text);
  TokenSets sets(a.distinct, b.distinct);
  if (length_ratio < 1.5) {
    double tokens = std::max(ratio_of(a.sorted, b.sorted), token_set_of(sets));
    return std::max(best, tokens * kTokenScale);
  }
  double partial_scale = length_ratio <= 8.0 ? 0.9 : 0.6;
  best = std::max(best, partial_of(a.text, b.text) * partial_scale);
  double partial_tokens = std::max(partial_of(a.sorted, b.sorted), partial_token_set_of(sets));
  return std::max(best, partial_tokens * kTokenScale * partial_scale);
}

double ratio(const CharSpan& a, const CharSpan& b) {
  return indel_similarity(a, b);
}

double partial_ratio(const CharSpan& a, const CharSpan& b) {
  return partial_of(text_of(a), text_of(b));
}

double token_sort_ratio(const CharSpan& a, const CharSpan& b) {
  return token_ratio(TokenRatio::TokenSort, tokened(a), tokened(b));
}

double token_set_ratio(const CharSpan& a, const CharSpan& b) {
  return token_ratio(TokenRatio::TokenSet, tokened(a), tokened(b));
}

double partial_token_sort_ratio(const CharSpan& a, const CharSpan& b) {
  return token_ratio(TokenRatio::PartialTokenSort, tokened(a), tokened(b));
}

double partial_token_set_ratio(const CharSpan& a, const CharSpan& b) {
  return token_ratio(TokenRatio::PartialTokenSet, tokened(a), tokened(b));
}

double weighted_ratio(const CharSpan& a, const CharSpan& b) {
  return token_ratio(TokenRatio::Weighted, tokened(a), tokened(b));
}

}  // namespace kivo
