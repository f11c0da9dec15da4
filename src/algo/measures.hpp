// The measure table: one row per two-text measure with fixed parameters.
// The module's functions, the router's algorithms and the batch scorers are
// all built from these rows, so a new measure is one row plus its kernel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "algo/bm25.hpp"
#include "algo/hamming.hpp"
#include "algo/indel.hpp"
#include "algo/jaccard.hpp"
#include "algo/jaro_winkler.hpp"
#include "algo/levenshtein.hpp"
#include "algo/minhash.hpp"
#include "algo/simhash.hpp"
#include "algo/tfidf.hpp"
#include "algo/token_ratios.hpp"
#include "algo/transpositions.hpp"
#include "base/error.hpp"
#include "text/char_span.hpp"

namespace kivo {

// What the measure reads of each text: its characters (as fixed-width code
// units) or its UTF-8 bytes.
enum class Reads { Characters, Utf8 };

// The many-texts kernel a batch call scores the measure with.
enum class BatchKernel {
  Levenshtein,  // lanes and bit-parallel rows, with bounds
  JaroWinkler,  // lanes, with bounds
  Hamming,      // fails for texts of different lengths
  CharGrams,    // a set of character n-grams per text
  Words,        // a set of words per text
  MinHash,      // a signature per text
  SimHash,      // a fingerprint per text
  Osa,          // bit-parallel rows of each query
  Lcs,          // bit-parallel rows of each query, for the LCS and Indel measures
  Tokens,       // each text's tokens read once, then the single call's arithmetic
  EachPair,     // the single call on every pair
};

// The measure's fixed parameters: n-gram or shingle size, number of hashes.
struct MeasureParams {
  std::uint64_t shingle_size = 0;
  std::uint64_t num_hashes = 0;
};

using CharacterEntry = Result<double> (*)(const MeasureParams&, const CharSpan&, const CharSpan&);
using Utf8Entry = Result<double> (*)(const MeasureParams&, std::string_view, std::string_view);
using CountEntry = std::uint64_t (*)(const CharSpan&, const CharSpan&);

struct Measure {
  std::string_view name;       // the module function
  std::string_view algorithm;  // the router's name for it; empty when it offers none
  std::string_view reported;   // the name a router result reports
  bool distance;               // an integral distance, else a similarity in [0, 1]
  Reads reads;
  BatchKernel kernel;
  MeasureParams params;
  // The single call, through the entry of what it reads. Distances are
  // integral doubles.
  CharacterEntry on_characters = nullptr;
  Utf8Entry on_utf8 = nullptr;
  // The router's wording for a pair the measure refuses, when it has one.
  std::string_view router_error = {};
  // Whether the measure's distance may reach the sum of the two lengths
  // (insertions and deletions only), where others stay within the longer one.
  bool distance_sums_lengths = false;
  // A distance of characters that never fails, as the integer it is: the
  // module function answers with it, without a round trip through a double.
  CountEntry count = nullptr;
  // Whether `count` is set: a function's address is not a constant where
  // the sanitizers keep null checks.
  bool counts = false;
};

namespace measure_entries {

inline Result<double> unequal_lengths() {
  return value_error("Strings must have equal length");
}

// Entries of measures that read characters and never fail.
template <auto F>
Result<double> distance(const MeasureParams&, const CharSpan& a, const CharSpan& b) {
  return double(F(a, b));
}
template <auto F>
Result<double> similarity(const MeasureParams&, const CharSpan& a, const CharSpan& b) {
  return F(a, b);
}

}  // namespace measure_entries

// A row of the submodules' measures: characters in, no router name, each
// pair scored by the single call unless a kernel is named.
constexpr Measure character_measure(std::string_view name, bool distance, CharacterEntry entry,
                                    BatchKernel kernel = BatchKernel::EachPair,
                                    bool sums_lengths = false) {
  Measure row{name, "", name, distance, Reads::Characters, kernel, {}, entry};
  row.distance_sums_lengths = sums_lengths;
  return row;
}

// The same for a distance that never fails.
template <CountEntry F>
constexpr Measure character_distance(std::string_view name,
                                     BatchKernel kernel = BatchKernel::EachPair,
                                     bool sums_lengths = false) {
  Measure row = character_measure(name, true, measure_entries::distance<F>, kernel, sums_lengths);
  row.count = F;
  row.counts = true;
  return row;
}

inline constexpr Measure kMeasures[] = {
    {"levenshtein_distance",
     "",
     "levenshtein",
     true,
     Reads::Characters,
     BatchKernel::Levenshtein,
     {},
     measure_entries::distance<levenshtein_distance>,
     nullptr,
     {},
     false,
     levenshtein_distance,
     true},
    {"levenshtein_similarity",
     "levenshtein",
     "levenshtein",
     false,
     Reads::Characters,
     BatchKernel::Levenshtein,
     {},
     [](const MeasureParams&, const CharSpan& a, const CharSpan& b) -> Result<double> {
       return levenshtein_similarity(a, b);
     }},
    {"jaro_winkler_similarity",
     "jaro_winkler",
     "jaro_winkler",
     false,
     Reads::Characters,
     BatchKernel::JaroWinkler,
     {},
     [](const MeasureParams&, const CharSpan& a, const CharSpan& b) -> Result<double> {
       return jaro_winkler_similarity(a, b);
     }},
    {"hamming_similarity",
     "hamming",
     "hamming",
     false,
     Reads::Characters,
     BatchKernel::Hamming,
     {},
     [](const MeasureParams&, const CharSpan& a, const CharSpan& b) -> Result<double> {
       std::optional<double> score = hamming_similarity(a, b);
       return score ? Result<double>(*score) : measure_entries::unequal_lengths();
     },
     nullptr,
     "Hamming requires equal-length strings"},
    {"hamming_distance",
     "",
     "hamming",
     true,
     Reads::Characters,
     BatchKernel::Hamming,
     {},
     [](const MeasureParams&, const CharSpan& a, const CharSpan& b) -> Result<double> {
       std::optional<std::uint64_t> distance = hamming_distance(a, b);
       return distance ? Result<double>(double(*distance)) : measure_entries::unequal_lengths();
     }},
    {"jaccard_bigram_similarity",
     "jaccard_bigram",
     "jaccard_bigram",
     false,
     Reads::Utf8,
     BatchKernel::CharGrams,
     {.shingle_size = 2},
     nullptr,
     [](const MeasureParams& p, std::string_view a, std::string_view b) -> Result<double> {
       return jaccard_similarity(a, b, p.shingle_size);
     }},
    {"jaccard_trigram_similarity",
     "jaccard_trigram",
     "jaccard_trigram",
     false,
     Reads::Utf8,
     BatchKernel::CharGrams,
     {.shingle_size = 3},
     nullptr,
     [](const MeasureParams& p, std::string_view a, std::string_view b) -> Result<double> {
       return jaccard_similarity(a, b, p.shingle_size);
     }},
    {"jaccard_word_similarity",
     "jaccard_word",
     "jaccard_word",
     false,
     Reads::Utf8,
     BatchKernel::Words,
     {},
     nullptr,
     [](const MeasureParams&, std::string_view a, std::string_view b) -> Result<double> {
       return jaccard_word_similarity(a, b);
     }},
    {"minhash_similarity_default",
     "minhash_default",
     "minhash",
     false,
     Reads::Utf8,
     BatchKernel::MinHash,
     {.shingle_size = 3, .num_hashes = 128},
     nullptr,
     [](const MeasureParams& p, std::string_view a, std::string_view b) {
       return minhash_similarity(a, b, p.shingle_size, p.num_hashes);
     }},
    {"simhash_similarity_default",
     "simhash_default",
     "simhash",
     false,
     Reads::Utf8,
     BatchKernel::SimHash,
     {.shingle_size = 4},
     nullptr,
     [](const MeasureParams& p, std::string_view a, std::string_view b) -> Result<double> {
       return simhash_similarity(a, b, p.shingle_size);
     }},
    {"bm25_similarity",
     "bm25",
     "bm25",
     false,
     Reads::Utf8,
     BatchKernel::EachPair,
     {},
     nullptr,
     [](const MeasureParams&, std::string_view a, std::string_view b) -> Result<double> {
       return bm25_similarity(a, b);
     }},
    {"tfidf_similarity",
     "tfidf",
     "tfidf",
     false,
     Reads::Utf8,
     BatchKernel::EachPair,
     {},
     nullptr,
     [](const MeasureParams&, std::string_view a, std::string_view b) -> Result<double> {
       return tfidf_similarity(a, b);
     }},
    // kivo.edit
    character_distance<osa_distance>("osa_distance", BatchKernel::Osa),
    character_measure("osa_similarity", false, measure_entries::similarity<osa_similarity>,
                      BatchKernel::Osa),
    character_distance<damerau_levenshtein_distance>("damerau_levenshtein_distance"),
    character_measure("damerau_levenshtein_similarity", false,
                      measure_entries::similarity<damerau_levenshtein_similarity>),
    character_distance<indel_distance>("indel_distance", BatchKernel::Lcs, true),
    character_measure("indel_similarity", false, measure_entries::similarity<indel_similarity>,
                      BatchKernel::Lcs, true),
    character_measure("lcs_similarity", false, measure_entries::similarity<lcs_similarity>,
                      BatchKernel::Lcs),
    // kivo.tokens
    character_measure("ratio", false, measure_entries::similarity<ratio>, BatchKernel::Lcs, true),
    character_measure("partial_ratio", false, measure_entries::similarity<partial_ratio>,
                      BatchKernel::Tokens),
    character_measure("token_sort_ratio", false, measure_entries::similarity<token_sort_ratio>,
                      BatchKernel::Tokens),
    character_measure("token_set_ratio", false, measure_entries::similarity<token_set_ratio>,
                      BatchKernel::Tokens),
    character_measure("partial_token_sort_ratio", false,
                      measure_entries::similarity<partial_token_sort_ratio>, BatchKernel::Tokens),
    character_measure("partial_token_set_ratio", false,
                      measure_entries::similarity<partial_token_set_ratio>, BatchKernel::Tokens),
    character_measure("weighted_ratio", false, measure_entries::similarity<weighted_ratio>,
                      BatchKernel::Tokens),
};

inline constexpr std::size_t kMeasureCount = std::size(kMeasures);

// No two rows share a function or router name.
consteval bool names_are_unique() {
  for (std::size_t i = 0; i < kMeasureCount; ++i) {
    const Measure& row = kMeasures[i];
    for (std::size_t j = 0; j < i; ++j) {
      if (kMeasures[j].name == row.name) return false;
      if (!row.algorithm.empty() && kMeasures[j].algorithm == row.algorithm) return false;
    }
  }
  return true;
}
static_assert(names_are_unique(), "two measure rows share a name");

// The row of the measure whose module function is `name`; an unknown name
// is a compile-time error where the call is a constant expression. Not
// consteval: clang before 15 rejects passing a consteval caller's parameter on.
constexpr const Measure& measure_named(std::string_view name) {
  for (const Measure& measure : kMeasures) {
    if (measure.name == name) return measure;
  }
  throw "no measure has this name";
}

// The row's position in the table.
constexpr std::size_t index_of(const Measure& measure) {
  return std::size_t(&measure - kMeasures);
}

// The measure's score of two texts it reads as characters or as UTF-8.
inline Result<double> score_characters(const Measure& measure, const CharSpan& a,
                                       const CharSpan& b) {
  return measure.on_characters(measure.params, a, b);
}
inline Result<double> score_utf8(const Measure& measure, std::string_view a, std::string_view b) {
  return measure.on_utf8(measure.params, a, b);
}

}  // namespace kivo
