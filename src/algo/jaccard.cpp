#include "jaccard.hpp"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <random>

#include "../preprocess/char_class.hpp"
#include "term_table.hpp"

namespace kivo {

namespace {

std::uint64_t mix(std::uint64_t x) {
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

// I / U of two sets, probing the larger with the elements of the smaller.
double jaccard_index(const ShingleSet& a, const ShingleSet& b) {
  const ShingleSet& smaller = a.size() <= b.size() ? a : b;
  const ShingleSet& larger = a.size() <= b.size() ? b : a;
  std::size_t shared = 0;
  for (std::string_view item : smaller) shared += larger.count(item);
  std::size_t total = larger.size() + (smaller.size() - shared);
  return double(shared) / double(total);
}

// Keys handed out so far in this process.
std::atomic<std::uint64_t> drawn_keys{0};

}  // namespace

std::uint64_t random_table_key() {
  static const std::uint64_t process_seed = []() -> std::uint64_t {
    try {
      std::random_device source;
      return (std::uint64_t(source()) << 32) ^ source();
    } catch (const std::exception&) {
      // No entropy source: the clock and this object's address still differ
      // from run to run.
      auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
      return std::uint64_t(ticks) ^ reinterpret_cast<std::uintptr_t>(&drawn_keys);
    }
  }();
  return mix(process_seed + drawn_keys.fetch_add(1, std::memory_order_relaxed));
}

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
