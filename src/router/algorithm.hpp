// The router's algorithms: each is chosen by one exact name and runs one
// measure with fixed parameters, yielding a score and the name it reports.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "base/error.hpp"

namespace kivo {

enum class Algorithm {
  Levenshtein,
  JaroWinkler,
  Hamming,
  JaccardBigram,
  JaccardTrigram,
  JaccardWord,
  MinHashDefault,
  SimHashDefault,
  Bm25,
  Tfidf,  // stays last
};
inline constexpr std::size_t kAlgorithmCount = std::size_t(Algorithm::Tfidf) + 1;

// A score (larger means more alike) and the name it is reported under.
// The name is one of the static reported names, so a view of it stays valid.
struct AlgorithmScore {
  double score;
  std::string_view algorithm;
};

// Exact, case-sensitive match; anything else is "unknown algorithm: {name}".
Result<Algorithm> parse_algorithm(std::string_view name);

// The name a result reports; "minhash_default" and "simhash_default" report
// "minhash" and "simhash".
std::string_view reported_name(Algorithm algorithm);

// Fails only for Hamming on texts of different character counts.
Result<AlgorithmScore> run_algorithm(Algorithm algorithm, std::string_view a, std::string_view b);

}  // namespace kivo
