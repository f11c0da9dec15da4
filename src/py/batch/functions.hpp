// The implementations behind kivo.batch's functions; the module file parses
// their arguments (a null object is an argument not given).
#pragma once

#include <Python.h>

#include <cstdint>
#include <new>

namespace kivo::py {

// Memory running out anywhere in a call (reading the texts, on the workers,
// making the results) is the caller's MemoryError, not an internal fault as
// in kivo's own functions: a batch call's size is the caller's to choose.
template <class Impl>
PyObject* out_of_memory_raised(const char* name, Impl&& impl) {
  try {
    return impl();
  } catch (const std::bad_alloc&) {
    // Should even the message find no memory, Python's own MemoryError stands.
    return PyErr_Format(PyExc_MemoryError, "kivo.batch.%s() ran out of memory", name);
  }
}

// cdist, or cpdist with `pairwise`.
// `nulls` is 'error' or 'skip' (null when not given).
PyObject* cdist_impl(PyObject* queries, PyObject* choices, PyObject* scorer, PyObject* cutoff,
                     PyObject* dtype, PyObject* workers, PyObject* processor, PyObject* nulls,
                     bool pairwise);
PyObject* topk_impl(PyObject* queries, PyObject* choices, PyObject* scorer, PyObject* k,
                    PyObject* cutoff, PyObject* workers, PyObject* processor, PyObject* nulls);
// The self-join when `choices` is null.
PyObject* pairs_impl(PyObject* queries, PyObject* choices, PyObject* scorer, PyObject* cutoff,
                     PyObject* workers, PyObject* processor, PyObject* nulls);
PyObject* minhash_signatures_impl(PyObject* texts, PyObject* shingle_size, PyObject* num_hashes,
                                  PyObject* workers, PyObject* processor);
// extract, or extract_one with `one`.
PyObject* extract_impl(PyObject* query, PyObject* choices, PyObject* scorer, PyObject* limit,
                       PyObject* cutoff, PyObject* processor, PyObject* workers, PyObject* nulls,
                       bool one);
// In lsh_pairs.cpp.
PyObject* lsh_pairs_impl(PyObject* signatures, PyObject* bands, PyObject* rows, PyObject* workers);
// In encode.cpp.
PyObject* encode_impl(PyObject* texts, PyObject* encoder, PyObject* workers);

// The argument readers every implementation shares; a failure carries the
// parameter's note. A count is an int from 0 to 2**64 - 1; workers are -1
// (every core) or a positive count, 1 when not given (null).
std::uint64_t read_count_argument(PyObject* object, const char* param);
long read_workers_argument(PyObject* object);

}  // namespace kivo::py
