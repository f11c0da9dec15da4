#include "router/algorithm.hpp"

#include <algorithm>
#include <array>
#include <utility>

#include "algo/bm25.hpp"
#include "algo/hamming.hpp"
#include "algo/jaccard.hpp"
#include "algo/jaro_winkler.hpp"
#include "algo/levenshtein.hpp"
#include "algo/minhash.hpp"
#include "algo/simhash.hpp"
#include "algo/tfidf.hpp"
#include "text/code_points.hpp"

namespace kivo {

namespace {

struct Entry {
  std::string_view accepted;
  std::string_view reported;
  Algorithm algorithm;
};

constexpr std::array<Entry, kAlgorithmCount> kAlgorithms{{
    {"levenshtein", "levenshtein", Algorithm::Levenshtein},
    {"jaro_winkler", "jaro_winkler", Algorithm::JaroWinkler},
    {"hamming", "hamming", Algorithm::Hamming},
    {"jaccard_bigram", "jaccard_bigram", Algorithm::JaccardBigram},
    {"jaccard_trigram", "jaccard_trigram", Algorithm::JaccardTrigram},
    {"jaccard_word", "jaccard_word", Algorithm::JaccardWord},
    {"minhash_default", "minhash", Algorithm::MinHashDefault},
    {"simhash_default", "simhash", Algorithm::SimHashDefault},
    {"bm25", "bm25", Algorithm::Bm25},
    {"tfidf", "tfidf", Algorithm::Tfidf},
}};
static_assert(kAlgorithms.back().algorithm == Algorithm::Tfidf, "one entry per algorithm");

constexpr std::uint64_t kMinHashShingle = 3;
constexpr std::uint64_t kMinHashCount = 128;
constexpr std::uint64_t kSimHashShingle = 4;

// The character measures read code units: each text is decoded once.
template <class Measure>
Result<double> on_code_units(std::string_view a, std::string_view b, Measure measure) {
  return with_code_units(a, [&](const CharSpan& x) {
    return with_code_units(b, [&](const CharSpan& y) { return Result<double>(measure(x, y)); });
  });
}

Result<double> hamming_score(const CharSpan& a, const CharSpan& b) {
  std::optional<double> score = hamming_similarity(a, b);
  if (!score) {
    return EngineError{EngineError::Kind::Algorithm, "Hamming requires equal-length strings"};
  }
  return *score;
}

Result<double> score_of(Algorithm algorithm, std::string_view a, std::string_view b) {
  switch (algorithm) {
    case Algorithm::Levenshtein: return on_code_units(a, b, levenshtein_similarity);
    case Algorithm::JaroWinkler: return on_code_units(a, b, jaro_winkler_similarity);
    case Algorithm::Hamming: return on_code_units(a, b, hamming_score);
    case Algorithm::JaccardBigram: return jaccard_similarity(a, b, 2);
    case Algorithm::JaccardTrigram: return jaccard_similarity(a, b, 3);
    case Algorithm::JaccardWord: return jaccard_word_similarity(a, b);
    case Algorithm::MinHashDefault: return minhash_similarity(a, b, kMinHashShingle, kMinHashCount);
    case Algorithm::SimHashDefault: return simhash_similarity(a, b, kSimHashShingle);
    case Algorithm::Bm25: return bm25_similarity(a, b);
    case Algorithm::Tfidf: return tfidf_similarity(a, b);
  }
  throw InternalFault("unhandled algorithm");
}

}  // namespace

Result<Algorithm> parse_algorithm(std::string_view name) {
  for (const Entry& entry : kAlgorithms) {
    if (entry.accepted == name) return entry.algorithm;
  }
  return value_error("unknown algorithm: " + std::string(name));
}

std::string_view reported_name(Algorithm algorithm) {
  for (const Entry& entry : kAlgorithms) {
    if (entry.algorithm == algorithm) return entry.reported;
  }
  throw InternalFault("unhandled algorithm");
}

Result<AlgorithmScore> run_algorithm(Algorithm algorithm, std::string_view a, std::string_view b) {
  Result<double> score = score_of(algorithm, a, b);
  if (!score.ok()) return std::move(score.failure());
  return AlgorithmScore{score.value(), reported_name(algorithm)};
}

}  // namespace kivo
