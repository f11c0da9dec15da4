// The registration table: every module function, its parameters and its
// binding, and the places of the two classes, in the module's fixed order.
// The measures' functions are made from their rows in the measure table.
#include "py/registry.hpp"

#include <array>
#include <string>
#include <string_view>
#include <utility>

#include "algo/measures.hpp"
#include "py/binder.hpp"
#include "py/classes.hpp"
#include "py/measure_functions.hpp"
#include "py/results.hpp"
#include "text/pipeline.hpp"

namespace kivo::py {

namespace {

using A = const Args&;

// A measure's function, by its name in the measure table.
consteval Callable measure(std::string_view name) {
  return measure_callable<false>(name);
}

// The module's functions in their fixed order.
constexpr Callable kFunctions[] = {
    measure("levenshtein_distance"),
    measure("levenshtein_similarity"),
    measure("jaro_winkler_similarity"),
    measure("hamming_similarity"),
    measure("hamming_distance"),
    {"jaccard_similarity",
     {text("a"), text("b"), uint("n")},
     [](PyObject*, A x) { return to_py(jaccard_similarity(x.str(0), x.str(1), x.u64(2))); }},
    measure("jaccard_bigram_similarity"),
    measure("jaccard_trigram_similarity"),
    measure("jaccard_word_similarity"),
    {"minhash_signature",
     {text("text"), uint("shingle_size"), uint("num_hashes")},
     [](PyObject*, A x) { return to_py(take(minhash_signature(x.str(0), x.u64(1), x.u64(2)))); }},
    {"minhash_similarity",
     {text("a"), text("b"), uint("shingle_size"), uint("num_hashes")},
     [](PyObject*, A x) {
       return to_py(take(minhash_similarity(x.str(0), x.str(1), x.u64(2), x.u64(3))));
     }},
    measure("minhash_similarity_default"),
    {"simhash_fingerprint",
     {text("text"), uint("shingle_size")},
     [](PyObject*, A x) { return to_py(simhash_fingerprint(x.str(0), x.u64(1))); }},
    {"simhash_fingerprint_default",
     {text("text")},
     [](PyObject*, A x) {
       constexpr MeasureParams defaults = measure_named("simhash_similarity_default").params;
       return to_py(simhash_fingerprint(x.str(0), defaults.shingle_size));
     }},
    {"simhash_similarity",
     {text("a"), text("b"), uint("shingle_size")},
     [](PyObject*, A x) { return to_py(simhash_similarity(x.str(0), x.str(1), x.u64(2))); }},
    measure("simhash_similarity_default"),
    measure("bm25_similarity"),
    measure("tfidf_similarity"),
    {"clean_text", {text("text")}, [](PyObject*, A x) { return to_py(clean_text(x.str(0))); }},
    {"clean_text_stopwords",
     {text("text")},
     [](PyObject*, A x) { return to_py(clean_text_stopwords(x.str(0))); }},
};

// The function whose Callable is `name`.
std::size_t function_index(std::string_view name) {
  for (std::size_t i = 0; i < std::size(kFunctions); ++i) {
    if (kFunctions[i].name == name) return i;
  }
  throw InternalFault("no module function is called " + std::string(name));
}

}  // namespace

const std::vector<Member>& members() {
  static const std::vector<Member> table = [] {
    // Preprocessor stands between the measures and the cleaners; KivoFlow last.
    std::vector<Member> out;
    for (std::size_t i = 0; i < std::size(kFunctions); ++i) {
      if (kFunctions[i].name == std::string_view("clean_text")) {
        out.push_back({nullptr, &preprocessor_type});
      }
      out.push_back({&method_defs<kFunctions>()[i], nullptr});
    }
    out.push_back({nullptr, &kivoflow_type});
    return out;
  }();
  return table;
}

const Measure* measure_of(PyObject* function) {
  if (!PyCFunction_Check(function)) return nullptr;
  PyCFunction entry = PyCFunction_GET_FUNCTION(function);
  static const std::array<PyCFunction, kMeasureCount> entries = [] {
    std::array<PyCFunction, kMeasureCount> out{};
    for (std::size_t m = 0; m < kMeasureCount; ++m) {
      const Measure& row = kMeasures[m];
      PyCFunction own = entry_named<kFunctions>(row.name);
      out[m] = own                       ? own
               : edit_measure_entry(row) ? edit_measure_entry(row)
                                         : tokens_measure_entry(row);
      if (out[m] == nullptr) {
        throw InternalFault("no module function is called " + std::string(row.name));
      }
    }
    return out;
  }();
  for (std::size_t m = 0; m < kMeasureCount; ++m) {
    if (entries[m] == entry) return &kMeasures[m];
  }
  return nullptr;
}

bool is_function(PyObject* object, std::string_view name) {
  return PyCFunction_Check(object) && PyCFunction_GET_FUNCTION(object) ==
                                          method_defs<kFunctions>()[function_index(name)].ml_meth;
}

}  // namespace kivo::py
