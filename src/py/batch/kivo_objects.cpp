#include "py/batch/kivo_objects.hpp"

#include <string>

#include "py/classes.hpp"
#include "py/convert.hpp"
#include "py/guard.hpp"
#include "py/value_class.hpp"
#include "text/pipeline.hpp"

namespace kivo::py {

namespace {

struct NamedMeasure {
  const char* name;
  batch::Measure measure;
};

constexpr NamedMeasure kScorers[] = {
    {"levenshtein_distance", batch::Measure::LevenshteinDistance},
    {"levenshtein_similarity", batch::Measure::LevenshteinSimilarity},
    {"jaro_winkler_similarity", batch::Measure::JaroWinkler},
    {"hamming_similarity", batch::Measure::HammingSimilarity},
    {"hamming_distance", batch::Measure::HammingDistance},
    {"jaccard_bigram_similarity", batch::Measure::JaccardBigram},
    {"jaccard_trigram_similarity", batch::Measure::JaccardTrigram},
    {"jaccard_word_similarity", batch::Measure::JaccardWord},
    {"minhash_similarity_default", batch::Measure::MinHash},
    {"simhash_similarity_default", batch::Measure::SimHash},
    {"bm25_similarity", batch::Measure::Bm25},
    {"tfidf_similarity", batch::Measure::Tfidf},
};

Ref kivo_attribute(const char* name) {
  Ref module = check(PyImport_ImportModule("kivo"));
  return check(PyObject_GetAttrString(module.get(), name));
}

bool is_attribute(PyObject* object, const char* name) {
  return kivo_attribute(name).get() == object;
}

// Both modules are built from the same sources in one build, so a KivoFlow
// or Preprocessor instance has the layout ValueObject<T> has here, and its
// value can be read in place. Instances never change after construction and
// the caller holds a reference for the whole call, so the value may be read
// from the workers without the interpreter lock. It is only read: nothing
// made by the other module is freed here.
template <class T>
const T* value_if(PyObject* object, const char* class_name) {
  Ref type = kivo_attribute(class_name);
  if (reinterpret_cast<PyObject*>(Py_TYPE(object)) != type.get()) return nullptr;
  return &value_of<T>(object);
}

}  // namespace

ScorerChoice resolve_scorer(PyObject* scorer) {
  for (const NamedMeasure& entry : kScorers) {
    if (is_attribute(scorer, entry.name)) return {entry.measure, std::nullopt, false};
  }
  if (const Router* router = value_if<KivoFlowValue>(scorer, "KivoFlow")) {
    ScorerChoice choice{batch::Measure::Flow, *router, router->preprocess};
    choice.tiers->preprocess = false;
    return choice;
  }
  raise(PyExc_TypeError, "scorer must be one of kivo's two-text functions or a KivoFlow, not '" +
                             qualified_type_name(scorer) + "'");
}

batch::Processor resolve_processor(PyObject* processor, const ScorerChoice& scorer,
                                   Ref& in_python) {
  batch::Processor first;
  if (processor == nullptr || processor == Py_None) {
  } else if (is_attribute(processor, "clean_text")) {
    first = [](std::string_view text) { return clean_text(text); };
  } else if (is_attribute(processor, "clean_text_stopwords")) {
    first = [](std::string_view text) { return clean_text_stopwords(text); };
  } else if (const auto* config = value_if<PreprocessorValue>(processor, "Preprocessor")) {
    // A caller's stopword set is keyed with the kivo module's own hash key,
    // which this module's copy of the hashing code does not share: such a
    // Preprocessor runs through its own method, on this thread.
    if (!config->stopwords.empty()) {
      in_python = check(PyObject_GetAttrString(processor, "process"));
    } else {
      first = [config](std::string_view text) { return preprocess_text(text, *config); };
    }
  } else {
    raise(PyExc_TypeError,
          "processor must be kivo.clean_text, kivo.clean_text_stopwords or a Preprocessor, not '" +
              qualified_type_name(processor) + "'");
  }
  if (!scorer.cleaning) return first;
  if (!first) return [](std::string_view text) { return clean_text(text); };
  return [first](std::string_view text) { return clean_text(first(text)); };
}

}  // namespace kivo::py
