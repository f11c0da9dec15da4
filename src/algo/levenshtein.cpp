#include "algo/levenshtein.hpp"

#include <algorithm>
#include <span>
#include <type_traits>
#include <vector>

#include "algo/bit_parallel.hpp"
#include "text/code_points.hpp"
#include "text/utf8.hpp"

namespace kivo {

namespace {

// Removes the longest common prefix and suffix of whole characters; neither
// changes the edit distance. The cut points fall on character boundaries:
// equal bytes before a cut mean the same character structure in both texts.
void strip_common_affixes(std::string_view& a, std::string_view& b) {
  std::size_t shortest = std::min(a.size(), b.size());
  std::size_t prefix = 0;
  while (prefix < shortest && a[prefix] == b[prefix]) ++prefix;
  while (prefix > 0 && prefix < a.size() && utf8::is_continuation(a[prefix])) --prefix;
  a.remove_prefix(prefix);
  b.remove_prefix(prefix);
  shortest -= prefix;
  std::size_t suffix = 0;
  while (suffix < shortest && a[a.size() - 1 - suffix] == b[b.size() - 1 - suffix]) ++suffix;
  while (suffix > 0 && utf8::is_continuation(a[a.size() - suffix])) --suffix;
  a.remove_suffix(suffix);
  b.remove_suffix(suffix);
}

template <class C>
std::uint64_t bit_parallel_distance(std::span<const C> a, std::span<const C> b) {
  // The shorter text runs down the rows: fewer words per column.
  if (a.size() > b.size()) std::swap(a, b);
  if (a.empty()) return b.size();
  if (a.size() <= 64) return bitpar::distance_word(a, b);
  return bitpar::distance_long(a, b);
}

std::span<const unsigned char> bytes(std::string_view text) {
  return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

// The same cut over code units, one per character.
template <class X, class Y>
void strip_common_affixes(std::span<const X>& a, std::span<const Y>& b) {
  std::size_t shortest = std::min(a.size(), b.size());
  std::size_t prefix = 0;
  while (prefix < shortest && char32_t(a[prefix]) == char32_t(b[prefix])) ++prefix;
  a = a.subspan(prefix);
  b = b.subspan(prefix);
  shortest -= prefix;
  std::size_t suffix = 0;
  while (suffix < shortest &&
         char32_t(a[a.size() - 1 - suffix]) == char32_t(b[b.size() - 1 - suffix])) {
    ++suffix;
  }
  a = a.first(a.size() - suffix);
  b = b.first(b.size() - suffix);
}

// Code units copied into a wider type, on the stack when short.
template <class W>
class Widened {
 public:
  template <class U>
  explicit Widened(std::span<const U> units) {
    W* out = inline_;
    if (units.size() > kInline) {
      heap_.resize(units.size());
      out = heap_.data();
    }
    std::copy(units.begin(), units.end(), out);
    view_ = {out, units.size()};
  }
  Widened(const Widened&) = delete;
  Widened& operator=(const Widened&) = delete;

  std::span<const W> view() const { return view_; }

 private:
  static constexpr std::size_t kInline = 128;
  W inline_[kInline];
  std::vector<W> heap_;
  std::span<const W> view_;
};

bool is_ascii(std::span<const std::uint8_t> units) {
  return utf8::is_ascii({reinterpret_cast<const char*>(units.data()), units.size()});
}

// The kernels take one-byte units as ASCII only, and both texts in one type.
template <class X, class Y>
std::uint64_t unit_distance(std::span<const X> a, std::span<const Y> b) {
  strip_common_affixes(a, b);
  if constexpr (sizeof(X) == 1 && sizeof(Y) == 1) {
    if (is_ascii(a) && is_ascii(b)) return bit_parallel_distance(a, b);
    return bit_parallel_distance(Widened<std::uint16_t>(a).view(),
                                 Widened<std::uint16_t>(b).view());
  } else if constexpr (std::is_same_v<X, Y>) {
    return bit_parallel_distance(a, b);
  } else if constexpr (sizeof(X) > sizeof(Y)) {
    return bit_parallel_distance(a, Widened<X>(b).view());
  } else {
    return bit_parallel_distance(Widened<Y>(a).view(), b);
  }
}

}  // namespace

std::uint64_t levenshtein_distance(std::string_view a, std::string_view b) {
  if (a == b) return 0;
  strip_common_affixes(a, b);
  if (utf8::is_ascii(a) && utf8::is_ascii(b)) return bit_parallel_distance(bytes(a), bytes(b));
  CodePoints wide_a(a);
  CodePoints wide_b(b);
  return bit_parallel_distance(wide_a.view(), wide_b.view());
}

std::uint64_t levenshtein_distance(const CharSpan& a, const CharSpan& b) {
  return visit_units(
      a, [&](auto x) { return visit_units(b, [&](auto y) { return unit_distance(x, y); }); });
}

double levenshtein_similarity(const CharSpan& a, const CharSpan& b) {
  std::size_t longest = std::max(a.length, b.length);
  if (longest == 0) return 1.0;
  return 1.0 - double(levenshtein_distance(a, b)) / double(longest);
}

double levenshtein_similarity(std::string_view a, std::string_view b) {
  // ASCII bytes are their own one-byte code units: no counting, no decoding.
  if (utf8::is_ascii(a) && utf8::is_ascii(b)) {
    return levenshtein_similarity(CharSpan{a.data(), a.size(), 1}, CharSpan{b.data(), b.size(), 1});
  }
  std::size_t longest = std::max(utf8::count_chars(a), utf8::count_chars(b));
  if (longest == 0) return 1.0;
  return 1.0 - double(levenshtein_distance(a, b)) / double(longest);
}

}  // namespace kivo
