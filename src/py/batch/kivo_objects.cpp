#include "py/batch/kivo_objects.hpp"

#include <string>

#include "py/classes.hpp"
#include "py/convert.hpp"
#include "py/guard.hpp"
#include "py/registry.hpp"
#include "py/value_class.hpp"
#include "text/pipeline.hpp"

namespace kivo::py {

namespace {

// Instances never change after construction and the caller holds a
// reference for the whole call, so the value may be read from the workers
// without the interpreter lock.
template <class T>
const T* value_if(PyObject* object, PyTypeObject* (*type)()) {
  PyTypeObject* expected = type();
  if (expected == nullptr) throw ErrorAlreadySet{};
  return Py_TYPE(object) == expected ? &value_of<T>(object) : nullptr;
}

}  // namespace

ScorerChoice resolve_scorer(PyObject* scorer) {
  if (const Measure* measure = measure_of(scorer)) return {{measure, nullptr}, std::nullopt, false};
  if (const Router* router = value_if<KivoFlowValue>(scorer, &kivoflow_type)) {
    ScorerChoice choice{{}, *router, router->preprocess};
    choice.tiers->preprocess = false;
    return choice;
  }
  raise(PyExc_TypeError, "scorer must be one of kivo's two-text functions or a KivoFlow, not '" +
                             qualified_type_name(scorer) + "'");
}

batch::Processor resolve_processor(PyObject* processor, const ScorerChoice& scorer) {
  batch::Processor first;
  if (processor == nullptr || processor == Py_None) {
  } else if (is_function(processor, "clean_text")) {
    first = [](std::string_view text) { return clean_text(text); };
  } else if (is_function(processor, "clean_text_stopwords")) {
    first = [](std::string_view text) { return clean_text_stopwords(text); };
  } else if (const auto* config = value_if<PreprocessorValue>(processor, &preprocessor_type)) {
    first = [config](std::string_view text) { return preprocess_text(text, *config); };
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
