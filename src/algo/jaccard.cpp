#include "algo/jaccard.hpp"

#include <cstdint>

#include "text/char_class.hpp"

namespace kivo {

namespace {

// I / U of two sets, probing the larger with the elements of the smaller.
double jaccard_index(const ShingleSet& a, const ShingleSet& b) {
  const ShingleSet& smaller = a.size() <= b.size() ? a : b;
  const ShingleSet& larger = a.size() <= b.size() ? b : a;
  std::size_t shared = 0;
  for (std::string_view item : smaller) shared += larger.count(item);
  std::size_t total = larger.size() + (smaller.size() - shared);
  return double(shared) / double(total);
}

}  // namespace

std::size_t ShingleHash::operator()(std::string_view shingle) const noexcept {
  return keyed_hash(k0, k1, shingle);
}

ShingleSet shingle_set(std::string_view text, std::uint64_t n) {
  std::size_t chars = utf8::count_chars(text);
  ShingleSet set;
  set.reserve(shingling::count(chars, n));
  shingling::for_each(text, chars, n, [&](std::string_view s) { set.insert(s); });
  return set;
}

std::vector<std::string_view> shingle_list(std::string_view text, std::uint64_t n) {
  std::size_t chars = utf8::count_chars(text);
  std::vector<std::string_view> list;
  list.reserve(shingling::count(chars, n));
  shingling::for_each(text, chars, n, [&](std::string_view s) { list.push_back(s); });
  return list;
}

ShingleSet word_set(std::string_view text) {
  ShingleSet words;
  std::size_t start = 0;
  bool in_word = false;
  for (std::size_t pos = 0; pos < text.size();) {
    std::size_t here = pos;
    bool space = is_whitespace(utf8::next(text, pos));
    if (space && in_word) words.insert(text.substr(start, here - start));
    if (!space && !in_word) start = here;
    in_word = !space;
  }
  if (in_word) words.insert(text.substr(start));
  return words;
}

double jaccard_similarity(std::string_view a, std::string_view b, std::uint64_t n) {
  // Equal texts score 1.0 before shingling, so even n == 0 is accepted here.
  if (a == b) return 1.0;
  ShingleSet sa = shingle_set(a, n);
  ShingleSet sb = shingle_set(b, n);
  return jaccard_index(sa, sb);
}

double jaccard_word_similarity(std::string_view a, std::string_view b) {
  ShingleSet wa = word_set(a);
  ShingleSet wb = word_set(b);
  if (wa.empty() && wb.empty()) return 1.0;
  return jaccard_index(wa, wb);
}

}  // namespace kivo
