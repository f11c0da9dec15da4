#include "hamming.hpp"

#include "utf8.hpp"

namespace kivo {

namespace {

// Positions where two equally long byte strings differ; a plain loop the
// compiler vectorises.
std::uint64_t byte_mismatches(std::string_view a, std::string_view b) {
  const auto* x = reinterpret_cast<const unsigned char*>(a.data());
  const auto* y = reinterpret_cast<const unsigned char*>(b.data());
  std::uint64_t count = 0;
  for (std::size_t i = 0; i < a.size(); ++i) count += x[i] != y[i];
  return count;
}

// Both texts are decoded in step, so no array of scalar values is needed.
std::uint64_t char_mismatches(std::string_view a, std::string_view b) {
  std::uint64_t count = 0;
  std::size_t pa = 0;
  std::size_t pb = 0;
  while (pa < a.size()) count += utf8::next(a, pa) != utf8::next(b, pb);
  return count;
}

struct Comparison {
  std::uint64_t length;
  std::uint64_t mismatches;
};

std::optional<Comparison> compare(std::string_view a, std::string_view b) {
  // In ASCII a byte is a character: equal character counts mean equal byte
  // counts and positions line up byte for byte.
  if (utf8::is_ascii(a) && utf8::is_ascii(b)) {
    if (a.size() != b.size()) return std::nullopt;
    return Comparison{a.size(), byte_mismatches(a, b)};
  }
  std::size_t length = utf8::count_chars(a);
  if (length != utf8::count_chars(b)) return std::nullopt;
  return Comparison{length, char_mismatches(a, b)};
}

}  // namespace

std::optional<std::uint64_t> hamming_distance(std::string_view a, std::string_view b) {
  std::optional<Comparison> c = compare(a, b);
  if (!c) return std::nullopt;
  return c->mismatches;
}

std::optional<double> hamming_similarity(std::string_view a, std::string_view b) {
  std::optional<Comparison> c = compare(a, b);
  if (!c) return std::nullopt;
  if (c->length == 0) return 1.0;
  return 1.0 - double(c->mismatches) / double(c->length);
}

}  // namespace kivo
