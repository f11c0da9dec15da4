// Placeholders until each measure lands in its own file; delete a line when
// its measure is implemented, and this file when it is empty.
#include "../error.hpp"
#include "hamming.hpp"
#include "jaccard.hpp"
#include "jaro_winkler.hpp"
#include "minhash.hpp"
#include "simhash.hpp"

namespace kivo {
#define TODO throw InternalFault("not implemented")
std::optional<std::uint64_t> hamming_distance(std::string_view, std::string_view) {
  TODO;
}
std::optional<double> hamming_similarity(std::string_view, std::string_view) {
  TODO;
}
double jaro_winkler_similarity(std::string_view, std::string_view) {
  TODO;
}
double jaccard_similarity(std::string_view, std::string_view, std::uint64_t) {
  TODO;
}
double jaccard_word_similarity(std::string_view, std::string_view) {
  TODO;
}
Result<std::vector<std::uint64_t>> minhash_signature(std::string_view, std::uint64_t,
                                                     std::uint64_t) {
  TODO;
}
Result<double> minhash_similarity(std::string_view, std::string_view, std::uint64_t,
                                  std::uint64_t) {
  TODO;
}
std::uint64_t simhash_fingerprint(std::string_view, std::uint64_t) {
  TODO;
}
double simhash_similarity(std::string_view, std::string_view, std::uint64_t) {
  TODO;
}
}  // namespace kivo
