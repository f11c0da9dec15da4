// The implementations behind kivo.batch's functions; the module file parses
// their arguments (a null object is an argument not given).
#pragma once

#include <Python.h>

namespace kivo::py {

// cdist, or cpdist with `pairwise`.
PyObject* cdist_impl(PyObject* queries, PyObject* choices, PyObject* scorer, PyObject* cutoff,
                     PyObject* dtype, PyObject* workers, PyObject* processor, bool pairwise);
PyObject* topk_impl(PyObject* queries, PyObject* choices, PyObject* scorer, PyObject* k,
                    PyObject* cutoff, PyObject* workers, PyObject* processor);
// The self-join when `choices` is null.
PyObject* pairs_impl(PyObject* queries, PyObject* choices, PyObject* scorer, PyObject* cutoff,
                     PyObject* workers, PyObject* processor);
PyObject* minhash_signatures_impl(PyObject* texts, PyObject* shingle_size, PyObject* num_hashes,
                                  PyObject* workers, PyObject* processor);
PyObject* lsh_pairs_impl(PyObject* signatures, PyObject* bands, PyObject* rows, PyObject* workers);

}  // namespace kivo::py
