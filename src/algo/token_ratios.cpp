#include "algo/token_ratios.hpp"

#include <algorithm>
#include <bit>
#include <string>
#include <string_view>
#include <vector>

#include "algo/bit_parallel.hpp"
#include "algo/bit_parallel_kernels.hpp"
#include "algo/indel.hpp"
#include "base/cancel.hpp"
#include "text/char_class.hpp"

namespace kivo {

namespace {

using Text = std::u32string;
using View = std::u32string_view;

CharSpan span_of(View text) {
  return {text.data(), text.size(), sizeof(char32_t)};
}

double ratio_of(View a, View b) {
  return ratio(span_of(a), span_of(b));
}

// Buffers a thread reuses from call to call. One that a long text grew past
// this many elements is given back when the call ends, not held.
constexpr std::size_t kKeptScratch = std::size_t(1) << 16;

template <class Buffer>
void trim(Buffer& buffer) {
  if (buffer.capacity() > kKeptScratch) Buffer().swap(buffer);
}

void trim(TokenedText& t) {
  trim(t.text);
  trim(t.sorted);
  trim(t.distinct);
}

// Runs `f` on leaving the scope, however it is left.
template <class F>
struct AtExit {
  F f;
  ~AtExit() { f(); }
};
template <class F>
AtExit(F) -> AtExit<F>;  // compilers before C++20's aggregate deduction need it

void append_joined(Text& out, View token) {
  if (!out.empty()) out += U' ';
  out += token;
}

// partial_ratio with `needle` no longer than `hay`, both non-empty. A
// window's LCS is at most the characters it shares with the needle (as
// multisets), counted as the window slides; only windows whose bound beats
// the best so far are measured. `id_of` numbers the needle's distinct
// characters below `ids` (kNone for others); `counts` has room for 2 * ids.
template <class IdOf, class Lcs>
double partial_windows(View needle, View hay, IdOf&& id_of, std::size_t ids, std::size_t* counts,
                       Lcs&& lcs) {
  constexpr std::uint32_t kNone = bitpar::DenseIds::kNone;
  std::size_t n = needle.size(), h = hay.size();
  // How often the needle holds each character, and the window.
  std::size_t* wanted = counts;
  std::size_t* held = counts + ids;
  std::fill(counts, counts + 2 * ids, 0);
  for (char32_t c : needle) ++wanted[id_of(c)];
  std::size_t shared = 0;  // characters of the window the needle can match
  auto enter = [&](char32_t c) {
    std::uint32_t id = id_of(c);
    if (id != kNone && held[id]++ < wanted[id]) ++shared;
  };
  auto leave = [&](char32_t c) {
    std::uint32_t id = id_of(c);
    if (id != kNone && --held[id] < wanted[id]) --shared;
  };
  auto restart = [&] {
    std::fill(held, held + ids, 0);
    shared = 0;
  };
  double best = 0.0;
  auto consider = [&](std::size_t start, std::size_t length) {
    double total = double(n + length);
    if (1.0 - double(n + length - 2 * shared) / total <= best) return;
    std::uint64_t common = lcs(std::span<const char32_t>(hay.data() + start, length));
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
  restart();
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
  restart();
  for (std::size_t k = 1; k < n && best < 1.0; ++k) {
    meter.add(n);
    enter(hay[h - k]);
    consider(h - k, k);
  }
  return best;
}

// The needle's masks, built once for every window. A needle of one word
// keeps them on the stack, and numbers each character by its first place in
// the needle, the lowest bit of its mask.
double partial_windows(View needle, View hay) {
  std::span<const char32_t> pattern(needle), text(hay);
  std::size_t n = needle.size();
  if (n <= 64) {
    bitpar::WordMasks masks(pattern, text);
    auto eq = [&](char32_t c) { return masks.get(c); };
    auto id_of = [&](char32_t c) {
      std::uint64_t mask = masks.get(c);
      return mask == 0 ? bitpar::DenseIds::kNone : std::uint32_t(std::countr_zero(mask));
    };
    std::size_t counts[128];
    return partial_windows(needle, hay, id_of, n, counts,
                           [&](auto window) { return bitpar::lcs_word(eq, n, window); });
  }
  bitpar::DenseIds ids(pattern);
  for (char32_t c : needle) ids.add(c);
  std::vector<std::size_t> counts(2 * std::size_t(ids.count()));
  bitpar::BlockMasks masks(pattern);
  return partial_windows(
      needle, hay, [&](char32_t c) { return ids.find(c); }, ids.count(), counts.data(),
      [&](auto window) { return bitpar::lcs_blocks(masks, n, window); });
}

double partial_of(View a, View b) {
  if (a.empty() && b.empty()) return 1.0;
  if (a.empty() || b.empty()) return 0.0;
  if (a.size() < b.size()) return partial_windows(a, b);
  if (a.size() > b.size()) return partial_windows(b, a);
  return std::max(partial_windows(a, b), partial_windows(b, a));
}

// Walks the distinct tokens of two texts in order: only_a(x) for a token of
// a alone, only_b(y) for one of b alone, both(x) for one they share.
template <class A, class B, class Both>
void merge_tokens(const TokenedText& a, const TokenedText& b, A&& only_a, B&& only_b, Both&& both) {
  std::size_t i = 0, j = 0, n = a.distinct.size(), m = b.distinct.size();
  while (i < n && j < m) {
    View x = a.token(i), y = b.token(j);
    int order = x.compare(y);
    if (order < 0) {
      only_a(x);
      ++i;
    } else if (order > 0) {
      only_b(y);
      ++j;
    } else {
      both(x);
      ++i;
      ++j;
    }
  }
  for (; i < n; ++i) only_a(a.token(i));
  for (; j < m; ++j) only_b(b.token(j));
}

// The distinct tokens of two texts, merged: the length of those they share
// joined, how many they share, and each one's own tokens joined. A side
// sharing nothing and repeating no token owns its sorted join; otherwise its
// own tokens are joined into the thread's scratch, and only when some ratio
// reads them.
struct TokenSets {
  std::size_t shared_count = 0;
  std::size_t shared_length = 0;
  View only_a, only_b;
  bool either_empty;
  bool own_sorted = false;  // each side's own tokens are its sorted join

  TokenSets(const TokenedText& a, const TokenedText& b)
      : either_empty(a.distinct.empty() || b.distinct.empty()) {
    auto skip = [](View) {};
    merge_tokens(a, b, skip, skip, [&](View x) {
      shared_length += (shared_count > 0) + x.size();
      ++shared_count;
    });
    bool own_a = shared_count < a.distinct.size(), own_b = shared_count < b.distinct.size();
    // A shared token with one side owning none fixes both set ratios.
    if (shared_count > 0 && !(own_a && own_b)) return;
    own_sorted = shared_count == 0 && !a.repeats && !b.repeats;
    if (shared_count == 0 && !a.repeats) {
      only_a = a.sorted;
    } else {
      Text& out = scratch(0);
      out.clear();
      merge_tokens(
          a, b, [&](View x) { append_joined(out, x); }, skip, skip);
      only_a = out;
    }
    if (shared_count == 0 && !b.repeats) {
      only_b = b.sorted;
    } else {
      Text& out = scratch(1);
      out.clear();
      merge_tokens(
          a, b, skip, [&](View y) { append_joined(out, y); }, skip);
      only_b = out;
    }
  }
  TokenSets(const TokenSets&) = delete;
  ~TokenSets() {
    trim(scratch(0));
    trim(scratch(1));
  }

 private:
  static Text& scratch(int side) {
    thread_local Text texts[2];
    return texts[side];
  }
};

// The shared tokens joined, then a space and each side's own tokens: the
// shared ones are a common prefix of both sides, so each LCS is known but
// for the own tokens' one, and no joined text needs building.
double token_set_of(const TokenSets& sets) {
  if (sets.either_empty) return 0.0;
  if (sets.shared_count > 0 && (sets.only_a.empty() || sets.only_b.empty())) return 1.0;
  std::size_t s = sets.shared_length;
  std::size_t prefix = s > 0 ? s + 1 : 0;  // the shared tokens and their space
  std::size_t first = prefix + sets.only_a.size(), second = prefix + sets.only_b.size();
  std::uint64_t common = prefix + lcs_length(span_of(sets.only_a), span_of(sets.only_b));
  return std::max({indel_similarity_from(first - s, s + first),
                   indel_similarity_from(second - s, s + second),
                   indel_similarity_from(first + second - 2 * common, first + second)});
}

double partial_token_set_of(const TokenSets& sets) {
  if (sets.either_empty) return 0.0;
  if (sets.shared_count > 0) return 1.0;
  return partial_of(sets.only_a, sets.only_b);
}

// Two texts read into the thread's scratch, for the single calls.
template <class F>
double with_tokened(const CharSpan& a, const CharSpan& b, F&& f) {
  thread_local TokenedText x, y;
  AtExit give_back{[&] {
    trim(x);
    trim(y);
  }};
  tokened_into(a, x);
  tokened_into(b, y);
  return f(x, y);
}

}  // namespace

void tokened_into(const CharSpan& span, TokenedText& out) {
  out.text.clear();
  visit_units(span, [&](auto units) { out.text.append(units.begin(), units.end()); });
  // The tokens as (start, length) in the text, sorted; then rewritten in
  // place as the distinct ones' places in the sorted join.
  auto& places = out.distinct;
  places.clear();
  const Text& text = out.text;
  for (std::size_t i = 0; i < text.size();) {
    while (i < text.size() && is_whitespace(text[i])) ++i;
    std::size_t start = i;
    while (i < text.size() && !is_whitespace(text[i])) ++i;
    if (i > start) places.emplace_back(start, i - start);
  }
  auto view = [&](const TokenedText::Place& p) { return View(text).substr(p.first, p.second); };
  std::sort(places.begin(), places.end(),
            [&](const auto& x, const auto& y) { return view(x) < view(y); });
  out.sorted.clear();
  std::size_t kept = 0;
  View previous;
  for (std::size_t k = 0; k < places.size(); ++k) {
    View token = view(places[k]);
    append_joined(out.sorted, token);
    // Slots up to k are read already, so they take the distinct places.
    if (k == 0 || token != previous)
      places[kept++] = {out.sorted.size() - token.size(), token.size()};
    previous = token;
  }
  out.repeats = kept < places.size();
  out.in_order = out.sorted == out.text;
  places.resize(kept);
}

TokenedText tokened(const CharSpan& span) {
  TokenedText out;
  tokened_into(span, out);
  return out;
}

double token_ratio(TokenRatio which, const TokenedText& a, const TokenedText& b) {
  switch (which) {
    case TokenRatio::Ratio: return ratio_of(a.text, b.text);
    case TokenRatio::Partial: return partial_of(a.text, b.text);
    case TokenRatio::TokenSort: return ratio_of(a.sorted, b.sorted);
    case TokenRatio::TokenSet: return token_set_of(TokenSets(a, b));
    case TokenRatio::PartialTokenSort: return partial_of(a.sorted, b.sorted);
    case TokenRatio::PartialTokenSet: return partial_token_set_of(TokenSets(a, b));
    case TokenRatio::Weighted: break;
  }
  constexpr double kTokenScale = 0.95;
  std::size_t la = a.text.size(), lb = b.text.size();
  if (la == 0 || lb == 0) return 0.0;
  double length_ratio = double(std::max(la, lb)) / double(std::min(la, lb));
  // Texts whose tokens stand sorted already score their sorted joins as
  // themselves, and texts that share and repeat no token score their token
  // sets' own parts as their sorted joins: each value is computed once.
  bool in_order = a.in_order && b.in_order;
  TokenSets sets(a, b);
  if (length_ratio < 1.5) {
    double best = ratio_of(a.text, b.text);
    double sorted = in_order ? best : ratio_of(a.sorted, b.sorted);
    double set = sets.own_sorted && !sets.either_empty ? sorted : token_set_of(sets);
    return std::max(best, std::max(sorted, set) * kTokenScale);
  }
  double partial_scale = length_ratio <= 8.0 ? 0.9 : 0.6;
  double partial = partial_of(a.text, b.text);
  double best = std::max(ratio_of(a.text, b.text), partial * partial_scale);
  double partial_sorted = in_order ? partial : partial_of(a.sorted, b.sorted);
  double partial_set =
      sets.own_sorted && !sets.either_empty ? partial_sorted : partial_token_set_of(sets);
  return std::max(best, std::max(partial_sorted, partial_set) * kTokenScale * partial_scale);
}

double ratio(const CharSpan& a, const CharSpan& b) {
  return indel_similarity(a, b);
}

double partial_ratio(const CharSpan& a, const CharSpan& b) {
  thread_local Text x, y;
  AtExit give_back{[&] {
    trim(x);
    trim(y);
  }};
  x.clear();
  y.clear();
  visit_units(a, [&](auto units) { x.append(units.begin(), units.end()); });
  visit_units(b, [&](auto units) { y.append(units.begin(), units.end()); });
  return partial_of(x, y);
}

double token_sort_ratio(const CharSpan& a, const CharSpan& b) {
  return with_tokened(
      a, b, [](const auto& x, const auto& y) { return token_ratio(TokenRatio::TokenSort, x, y); });
}

double token_set_ratio(const CharSpan& a, const CharSpan& b) {
  return with_tokened(
      a, b, [](const auto& x, const auto& y) { return token_ratio(TokenRatio::TokenSet, x, y); });
}

double partial_token_sort_ratio(const CharSpan& a, const CharSpan& b) {
  return with_tokened(a, b, [](const auto& x, const auto& y) {
    return token_ratio(TokenRatio::PartialTokenSort, x, y);
  });
}

double partial_token_set_ratio(const CharSpan& a, const CharSpan& b) {
  return with_tokened(a, b, [](const auto& x, const auto& y) {
    return token_ratio(TokenRatio::PartialTokenSet, x, y);
  });
}

double weighted_ratio(const CharSpan& a, const CharSpan& b) {
  return with_tokened(
      a, b, [](const auto& x, const auto& y) { return token_ratio(TokenRatio::Weighted, x, y); });
}

}  // namespace kivo
