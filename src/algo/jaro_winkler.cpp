#include "algo/jaro_winkler.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "algo/char_map.hpp"
#include "base/cancel.hpp"

namespace kivo {

namespace {

constexpr std::size_t kMaxPrefix = 4;
constexpr double kPrefixScale = 0.1;

// Bits lo .. hi - 1 of a word (0 <= lo < hi <= 64).
inline std::uint64_t bit_range(std::size_t lo, std::size_t hi) {
  std::uint64_t below_hi = hi >= 64 ? ~std::uint64_t(0) : (std::uint64_t(1) << hi) - 1;
  return below_hi & (~std::uint64_t(0) << lo);
}

// Matched characters of a and b paired in order; each unequal pair is half a
// transposition. `matched_a` holds a's matched characters in order, the set
// bits of `flagged_b` b's matched positions.
template <class C>
std::size_t unequal_pairs(std::span<const C> matched_a, std::span<const C> b,
                          std::span<const std::uint64_t> flagged_b) {
  std::size_t unequal = 0;
  std::size_t r = 0;
  cancel::Meter meter;
  for (std::size_t w = 0; w < flagged_b.size(); ++w) {
    meter.add(64);
    for (std::uint64_t bits = flagged_b[w]; bits != 0; bits &= bits - 1) {
      std::size_t j = w * 64 + std::size_t(__builtin_ctzll(bits));
      unequal += matched_a[r++] != b[j];
    }
  }
  return unequal;
}

double jaro_value(std::size_t matches, std::size_t unequal, std::size_t la, std::size_t lb) {
  double m = double(matches);
  double h = double(unequal / 2);
  return ((m / double(la) + m / double(lb)) + (m - h) / m) / 3.0;
}

// Greedy matching from a's side: each character of a takes the first
// unflagged equal character of b inside its window. With b's position masks,
// that character is the lowest set bit of mask & window & ~flagged.
template <class C>
double jaro_short_b(std::span<const C> a, std::span<const C> b, std::size_t window) {
  bitpar::WordMasks masks(b, a);
  std::uint64_t flagged = 0;
  C matched_a[65];  // one spare for a character written but not counted
  std::size_t matches = 0;
  std::size_t end = std::min(a.size(), b.size() + window);  // later windows are empty
  for (std::size_t i = 0; i < end; ++i) {
    std::size_t lo = i > window ? i - window : 0;
    std::size_t hi = std::min(b.size(), i + window + 1);
    std::uint64_t candidates = masks.get(a[i]) & ~flagged & bit_range(lo, hi);
    // Without a branch: whether a character matches is a coin toss.
    std::uint64_t lowest = candidates & (~candidates + 1);
    flagged |= lowest;
    matched_a[matches] = a[i];
    matches += lowest != 0;
  }
  if (matches == 0) return 0.0;
  std::size_t unequal = unequal_pairs<C>({matched_a, matches}, b, {&flagged, 1});
  return jaro_value(matches, unequal, a.size(), b.size());
}

// The same greedy matching for a longer b, in O(|a| + |b|): b's positions
// are listed per character, with a cursor per character. Windows only move
// right, so positions before a window are never usable again, and the
// positions at and after a cursor are all unflagged: the first one inside the
// window is the first unflagged match.
template <class C>
double jaro_long_b(std::span<const C> a, std::span<const C> b, std::size_t window) {
  // The arrays as long as b are left uninitialised (every entry is written
  // before it is read) and filled in loops that poll, so that a long b costs
  // no pass that cannot be cancelled.
  bitpar::DenseIds ids(b);
  std::unique_ptr<std::uint32_t[]> id_of(new std::uint32_t[b.size()]);
  for (std::size_t j = 0; j < b.size();) {
    for (std::size_t piece = cancel::piece_end(j, b.size()); j < piece; ++j)
      id_of[j] = ids.add(b[j]);
  }
  std::vector<std::size_t> cursor(std::size_t(ids.count()) + 1, 0);
  for (std::size_t j = 0; j < b.size(); ++j) ++cursor[id_of[j] + 1];
  for (std::size_t k = 1; k < cursor.size(); ++k) cursor[k] += cursor[k - 1];
  std::vector<std::size_t> end(cursor.begin() + 1, cursor.end());
  std::unique_ptr<std::size_t[]> positions(new std::size_t[b.size()]);
  {
    std::vector<std::size_t> fill(cursor.begin(), cursor.end() - 1);
    for (std::size_t j = 0; j < b.size();) {
      for (std::size_t piece = cancel::piece_end(j, b.size()); j < piece; ++j) {
        positions[fill[id_of[j]]++] = j;
      }
    }
  }

  std::vector<std::uint64_t> flagged((b.size() + 63) / 64, 0);
  std::vector<C> matched_a;
  matched_a.reserve(std::min(a.size(), b.size()));
  std::size_t stop = std::min(a.size(), b.size() + window);  // later windows are empty
  for (std::size_t i = 0; i < stop;) {
    for (std::size_t piece = cancel::piece_end(i, stop); i < piece; ++i) {
      std::uint32_t id = ids.find(a[i]);
      if (id == bitpar::DenseIds::kNone) continue;
      std::size_t lo = i > window ? i - window : 0;
      std::size_t hi = std::min(b.size(), i + window + 1);
      std::size_t c = cursor[id];
      while (c < end[id] && positions[c] < lo) ++c;
      if (c < end[id] && positions[c] < hi) {
        std::size_t j = positions[c++];
        flagged[j / 64] |= std::uint64_t(1) << (j % 64);
        matched_a.push_back(a[i]);
      }
      cursor[id] = c;
    }
  }
  if (matched_a.empty()) return 0.0;
  std::size_t unequal = unequal_pairs<C>(matched_a, b, flagged);
  return jaro_value(matched_a.size(), unequal, a.size(), b.size());
}

template <class C>
double jaro(std::span<const C> a, std::span<const C> b) {
  if (a.empty() || b.empty()) return 0.0;
  std::size_t longest = std::max(a.size(), b.size());
  std::size_t window = longest / 2 == 0 ? 0 : longest / 2 - 1;
  return b.size() <= 64 ? jaro_short_b(a, b, window) : jaro_long_b(a, b, window);
}

template <class C>
std::size_t common_prefix(std::span<const C> a, std::span<const C> b) {
  std::size_t limit = std::min({a.size(), b.size(), kMaxPrefix});
  std::size_t p = 0;
  while (p < limit && a[p] == b[p]) ++p;
  return p;
}

template <class C>
double jaro_winkler(std::span<const C> a, std::span<const C> b) {
  double j = jaro(a, b);
  // The prefix bonus applies at every Jaro value; no threshold.
  return (1.0 - j) * (double(common_prefix(a, b)) * kPrefixScale) + j;
}

}  // namespace

JaroWinklerPattern::JaroWinklerPattern(std::u32string_view pattern)
    : pattern_(pattern),
      masks_(std::span<const char32_t>(pattern)),
      flagged_(masks_.words()),
      matched_(pattern.size() + 1) {}  // one spare for a character written but not counted

// Jaro matching from the text's side against the pattern's masks: each
// character takes the lowest unflagged equal position of the pattern inside
// its window, found word by word.
double JaroWinklerPattern::similarity(std::u32string_view text) {
  std::span<const char32_t> a(text);
  std::span<const char32_t> b(pattern_);
  if (a.size() == b.size() && text == pattern_) return 1.0;
  if (a.empty() || b.empty()) return 0.0;
  std::size_t longest = std::max(a.size(), b.size());
  std::size_t window = longest / 2 == 0 ? 0 : longest / 2 - 1;
  std::size_t stop = std::min(a.size(), b.size() + window);  // later windows are empty
  std::size_t matches =
      masks_.words() <= 2 ? match_narrow(a, window, stop) : match_wide(a, window, stop);
  double jaro = 0.0;
  if (matches > 0) {
    std::size_t unequal = unequal_pairs<char32_t>({matched_.data(), matches}, b, flagged_);
    jaro = jaro_value(matches, unequal, b.size(), a.size());
  }
  return (1.0 - jaro) * (double(common_prefix(b, a)) * kPrefixScale) + jaro;
}

// Patterns of up to 128 characters: the masks, flags and window in one
// 128-bit integer, so a character costs a handful of operations.
std::size_t JaroWinklerPattern::match_narrow(std::span<const char32_t> a, std::size_t window,
                                             std::size_t stop) {
  using Bits = unsigned __int128;
  auto below = [](std::size_t n) { return n >= 128 ? ~Bits(0) : (Bits(1) << n) - 1; };
  bool two = masks_.words() == 2;
  std::size_t lb = pattern_.size();
  Bits flagged = 0;
  std::size_t matches = 0;
  for (std::size_t i = 0; i < stop;) {
    for (std::size_t piece = cancel::piece_end(i, stop); i < piece; ++i) {
      std::size_t lo = i > window ? i - window : 0;
      std::size_t hi = std::min(lb, i + window + 1);
      const std::uint64_t* row = masks_.get(a[i]);
      Bits mask = two ? Bits(row[0]) | (Bits(row[1]) << 64) : Bits(row[0]);
      Bits candidates = mask & ~flagged & below(hi) & ~below(lo);
      // Without a branch: whether a character matches is a coin toss.
      Bits lowest = candidates & (~candidates + 1);
      flagged |= lowest;
      matched_[matches] = a[i];
      matches += lowest != 0;
    }
  }
  flagged_[0] = std::uint64_t(flagged);
  if (two) flagged_[1] = std::uint64_t(flagged >> 64);
  return matches;
}

// Longer patterns: each character's window searched word by word.
std::size_t JaroWinklerPattern::match_wide(std::span<const char32_t> a, std::size_t window,
                                           std::size_t stop) {
  std::fill(flagged_.begin(), flagged_.end(), 0);
  std::size_t lb = pattern_.size();
  std::size_t matches = 0;
  cancel::Meter meter;
  for (std::size_t i = 0; i < stop; ++i) {
    std::size_t lo = i > window ? i - window : 0;
    std::size_t hi = std::min(lb, i + window + 1);
    meter.add(1 + (hi - lo) / 64);
    const std::uint64_t* row = masks_.get(a[i]);
    for (std::size_t w = lo / 64; w <= (hi - 1) / 64; ++w) {
      std::uint64_t range =
          bit_range(w * 64 > lo ? 0 : lo % 64, std::min<std::size_t>(64, hi - w * 64));
      std::uint64_t candidates = row[w] & ~flagged_[w] & range;
      if (candidates != 0) {
        flagged_[w] |= candidates & (~candidates + 1);
        matched_[matches++] = a[i];
        break;
      }
    }
  }
  return matches;
}

double jaro_winkler_similarity(const CharSpan& a, const CharSpan& b) {
  // Identical texts score 1.0 without any matching; two empty ones only this way.
  if (a.length == b.length &&
      (a.length == 0 ||
       (a.width == b.width && std::memcmp(a.data, b.data, a.length * a.width) == 0))) {
    return 1.0;
  }
  return visit_units(a, [&](auto x) {
    return visit_units(b, [&](auto y) {
      return bitpar::with_one_unit_type(x, y, [](auto p, auto q) { return jaro_winkler(p, q); });
    });
  });
}

}  // namespace kivo
