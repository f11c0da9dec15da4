// The registration table: every module function, its parameters and its
// binding, and the places of the two classes, in the module's fixed order.
#include "py/registry.hpp"

#include "algo/bm25.hpp"
#include "algo/hamming.hpp"
#include "algo/jaccard.hpp"
#include "algo/jaro_winkler.hpp"
#include "algo/levenshtein.hpp"
#include "algo/minhash.hpp"
#include "algo/simhash.hpp"
#include "algo/tfidf.hpp"
#include "py/binder.hpp"
#include "py/classes.hpp"
#include "py/results.hpp"
#include "text/pipeline.hpp"

namespace kivo::py {

namespace {

// Hamming's own wording for texts of different character counts.
template <class T>
T equal_length(std::optional<T> value) {
  if (!value) raise(PyExc_ValueError, "Strings must have equal length");
  return *value;
}

using A = const Args&;

constexpr Callable kFunctions[] = {
    {"levenshtein_distance",
     {chars("a"), chars("b")},
     [](PyObject*, A x) { return to_py(levenshtein_distance(x.chars(0), x.chars(1))); }},
    {"levenshtein_similarity",
     {chars("a"), chars("b")},
     [](PyObject*, A x) { return to_py(levenshtein_similarity(x.chars(0), x.chars(1))); }},
    {"jaro_winkler_similarity",
     {chars("a"), chars("b")},
     [](PyObject*, A x) { return to_py(jaro_winkler_similarity(x.chars(0), x.chars(1))); }},
    {"hamming_similarity",
     {chars("a"), chars("b")},
     [](PyObject*, A x) {
       return to_py(equal_length(hamming_similarity(x.chars(0), x.chars(1))));
     }},
    {"hamming_distance",
     {chars("a"), chars("b")},
     [](PyObject*, A x) { return to_py(equal_length(hamming_distance(x.chars(0), x.chars(1)))); }},
    {"jaccard_similarity",
     {text("a"), text("b"), uint("n")},
     [](PyObject*, A x) { return to_py(jaccard_similarity(x.str(0), x.str(1), x.u64(2))); }},
    {"jaccard_bigram_similarity",
     {text("a"), text("b")},
     [](PyObject*, A x) { return to_py(jaccard_similarity(x.str(0), x.str(1), 2)); }},
    {"jaccard_trigram_similarity",
     {text("a"), text("b")},
     [](PyObject*, A x) { return to_py(jaccard_similarity(x.str(0), x.str(1), 3)); }},
    {"jaccard_word_similarity",
     {text("a"), text("b")},
     [](PyObject*, A x) { return to_py(jaccard_word_similarity(x.str(0), x.str(1))); }},
    {"minhash_signature",
     {text("text"), uint("shingle_size"), uint("num_hashes")},
     [](PyObject*, A x) { return to_py(take(minhash_signature(x.str(0), x.u64(1), x.u64(2)))); }},
    {"minhash_similarity",
     {text("a"), text("b"), uint("shingle_size"), uint("num_hashes")},
     [](PyObject*, A x) {
       return to_py(take(minhash_similarity(x.str(0), x.str(1), x.u64(2), x.u64(3))));
     }},
    {"minhash_similarity_default",
     {text("a"), text("b")},
     [](PyObject*, A x) { return to_py(take(minhash_similarity(x.str(0), x.str(1), 3, 128))); }},
    {"simhash_fingerprint",
     {text("text"), uint("shingle_size")},
     [](PyObject*, A x) { return to_py(simhash_fingerprint(x.str(0), x.u64(1))); }},
    {"simhash_fingerprint_default",
     {text("text")},
     [](PyObject*, A x) { return to_py(simhash_fingerprint(x.str(0), 4)); }},
    {"simhash_similarity",
     {text("a"), text("b"), uint("shingle_size")},
     [](PyObject*, A x) { return to_py(simhash_similarity(x.str(0), x.str(1), x.u64(2))); }},
    {"simhash_similarity_default",
     {text("a"), text("b")},
     [](PyObject*, A x) { return to_py(simhash_similarity(x.str(0), x.str(1), 4)); }},
    {"bm25_similarity",
     {text("a"), text("b")},
     [](PyObject*, A x) { return to_py(bm25_similarity(x.str(0), x.str(1))); }},
    {"tfidf_similarity",
     {text("a"), text("b")},
     [](PyObject*, A x) { return to_py(tfidf_similarity(x.str(0), x.str(1))); }},
    {"clean_text", {text("text")}, [](PyObject*, A x) { return to_py(clean_text(x.str(0))); }},
    {"clean_text_stopwords",
     {text("text")},
     [](PyObject*, A x) { return to_py(clean_text_stopwords(x.str(0))); }},
};

PyMethodDef* function_def(std::size_t index) {
  return &method_defs<kFunctions>()[index];
}

}  // namespace

const std::vector<Member>& members() {
  static const std::vector<Member> table = [] {
    // Preprocessor stands between the measures and the cleaners; KivoFlow last.
    constexpr std::size_t kPreprocessorAt = 18;
    std::vector<Member> out;
    for (std::size_t i = 0; i < std::size(kFunctions); ++i) {
      if (i == kPreprocessorAt) out.push_back({nullptr, &preprocessor_type});
      out.push_back({function_def(i), nullptr});
    }
    out.push_back({nullptr, &kivoflow_type});
    return out;
  }();
  return table;
}

}  // namespace kivo::py
