#include "algo/jaccard.hpp"

#include "algo/shingles.hpp"
#include "algo/shingles_distinct.hpp"

namespace kivo {

namespace {

// From this window on, counting distinct shingles through a suffix array beats
// hashing every window into a set, on prose and on random or repetitive text
// alike; below it the sets are faster, and their cost, about n bytes hashed
// per window, stays linear. Short texts stay with the sets whatever n is:
// there the suffix array's setup outweighs the little hashing it saves.
constexpr std::uint64_t kLongWindow = 16;
constexpr std::size_t kShortTexts = 512;  // bytes of both texts together

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

double jaccard_similarity(std::string_view a, std::string_view b, std::uint64_t n) {
  // Equal texts score 1.0 before shingling, so even n == 0 is accepted here.
  if (a == b) return 1.0;
  if (n >= kLongWindow && a.size() + b.size() > kShortTexts) {
    ShingleCounts c = count_distinct_shingles(a, b, n);
    return double(c.shared) / double(c.first + c.second - c.shared);
  }
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
