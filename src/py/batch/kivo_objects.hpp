// What kivo.batch takes from the kivo module: its two-text functions and its
// KivoFlow as scorers, its cleaners and Preprocessor as processors, and its
// PanicException. Objects are recognised by identity with the attributes of
// the imported module, never by name alone.
#pragma once

#include <Python.h>

#include <optional>

#include "batch/scorer.hpp"
#include "batch/texts.hpp"
#include "py/py_ref.hpp"
#include "router/router.hpp"

namespace kivo::py {

struct ScorerChoice {
  batch::Measure measure;
  // KivoFlow: its tiers without cleaning, and whether it cleans, which then
  // runs once per text ahead of scoring instead of once per pair.
  std::optional<Router> tiers;
  bool cleaning = false;
};

// TypeError for anything that is not one of them.
ScorerChoice resolve_scorer(PyObject* scorer);

// The processor to run on every text (empty for None), followed by the
// scorer's own cleaning. A processor that must run through Python is left to
// the caller in `in_python` (a callable taking and returning a str), ahead
// of the native steps. The caller holds `processor` for the whole call.
batch::Processor resolve_processor(PyObject* processor, const ScorerChoice& scorer, Ref& in_python);

}  // namespace kivo::py
