// What kivo.batch takes from the kivo module: its two-text functions and its
// KivoFlow as scorers, its cleaners and Preprocessor as processors. Functions
// are known by their native entries and instances by their class objects,
// which the two modules share.
#pragma once

#include <Python.h>

#include <optional>

#include "batch/scorer.hpp"
#include "batch/texts.hpp"
#include "router/router.hpp"

namespace kivo::py {

struct ScorerChoice {
  batch::ScorerSpec spec;  // its router is set by the caller, from `tiers`
  // KivoFlow: its tiers without cleaning, and whether it cleans, which then
  // runs once per text ahead of scoring instead of once per pair.
  std::optional<Router> tiers;
  bool cleaning = false;
};

// TypeError for anything that is not one of them.
ScorerChoice resolve_scorer(PyObject* scorer);

// The processor to run on every text (empty for None), followed by the
// scorer's own cleaning. The caller holds `processor` for the whole call.
batch::Processor resolve_processor(PyObject* processor, const ScorerChoice& scorer);

}  // namespace kivo::py
