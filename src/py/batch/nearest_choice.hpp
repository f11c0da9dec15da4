// extract_one straight over a list or tuple of strs, for the bit-parallel
// edit measures and weighted_ratio with no processor: each choice is scored
// from the str's own buffer as the walk reaches it (see batch/nearest*.hpp).
#pragma once

#include <Python.h>

#include "algo/measures.hpp"
#include "py/text_lists.hpp"

namespace kivo::py {

// Whether the search goes so: a measure it serves, and choices in a list or
// tuple (not a subclass).
bool searched_directly(const Measure& measure, PyObject* choices);

// The best (choice, score, index) of the choices for the query, ties to the
// earliest, or None when none passes `cutoff`. A choice is refused (a
// non-str, or a null that `nulls` does not keep) when the walk reaches it;
// the walk stops at the first perfect score.
PyObject* nearest_choice(const Measure& measure, const CharSpan& query, PyObject* choices,
                         double cutoff, Nulls nulls);

}  // namespace kivo::py
