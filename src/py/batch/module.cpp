// The kivo.batch module: many texts against many, computed without the
// interpreter lock on a pool of threads, with NumPy arrays as results.
#include <Python.h>

#include "py/batch/functions.hpp"
#include "py/batch/simd_switch.hpp"
#include "py/guard.hpp"

namespace kivo::py {
namespace {

// "O" arguments; a keyword-only argument without a default is checked by
// its implementation, since the parser only knows optional ones.
template <class Impl>
PyObject* parsed(PyObject* args, PyObject* kwargs, const char* format, char** names, Impl impl) {
  PyObject* values[8] = {};
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, format, names, &values[0], &values[1], &values[2],
                                   &values[3], &values[4], &values[5], &values[6], &values[7])) {
    return nullptr;
  }
  return guarded([&] { return impl(values); });
}

char kQueries[] = "queries", kChoices[] = "choices", kScorer[] = "scorer",
     kCutoff[] = "score_cutoff", kDtype[] = "dtype", kWorkers[] = "workers",
     kProcessor[] = "processor", kK[] = "k", kTexts[] = "texts", kShingle[] = "shingle_size",
     kHashes[] = "num_hashes", kSignatures[] = "signatures", kBands[] = "bands", kRows[] = "rows";

PyObject* cdist(PyObject*, PyObject* args, PyObject* kwargs) {
  static char* names[] = {kQueries, kChoices, kScorer,    kCutoff,
                          kDtype,   kWorkers, kProcessor, nullptr};
  return parsed(args, kwargs, "OO|$OOOOO:cdist", names, [](PyObject** v) {
    return cdist_impl(v[0], v[1], v[2], v[3], v[4], v[5], v[6], false);
  });
}

PyObject* cpdist(PyObject*, PyObject* args, PyObject* kwargs) {
  static char* names[] = {kQueries, kChoices, kScorer,    kCutoff,
                          kDtype,   kWorkers, kProcessor, nullptr};
  return parsed(args, kwargs, "OO|$OOOOO:cpdist", names, [](PyObject** v) {
    return cdist_impl(v[0], v[1], v[2], v[3], v[4], v[5], v[6], true);
  });
}

PyObject* topk(PyObject*, PyObject* args, PyObject* kwargs) {
  static char* names[] = {kQueries, kChoices, kScorer, kK, kCutoff, kWorkers, kProcessor, nullptr};
  return parsed(args, kwargs, "OO|$OOOOO:topk", names,
                [](PyObject** v) { return topk_impl(v[0], v[1], v[2], v[3], v[4], v[5], v[6]); });
}

PyObject* pairs(PyObject*, PyObject* args, PyObject* kwargs) {
  static char* names[] = {kQueries, kChoices, kScorer, kCutoff, kWorkers, kProcessor, nullptr};
  return parsed(args, kwargs, "O|O$OOOO:pairs", names,
                [](PyObject** v) { return pairs_impl(v[0], v[1], v[2], v[3], v[4], v[5]); });
}

PyObject* minhash_signatures(PyObject*, PyObject* args, PyObject* kwargs) {
  static char* names[] = {kTexts, kShingle, kHashes, kWorkers, kProcessor, nullptr};
  return parsed(args, kwargs, "OOO|$OO:minhash_signatures", names,
                [](PyObject** v) { return minhash_signatures_impl(v[0], v[1], v[2], v[3], v[4]); });
}

PyObject* lsh_pairs(PyObject*, PyObject* args, PyObject* kwargs) {
  static char* names[] = {kSignatures, kBands, kRows, kWorkers, nullptr};
  return parsed(args, kwargs, "O|$OOO:lsh_pairs", names,
                [](PyObject** v) { return lsh_pairs_impl(v[0], v[1], v[2], v[3]); });
}

#define KIVO_BATCH_FUNCTION(name, doc)                                            \
  {                                                                               \
#name, reinterpret_cast < PyCFunction>(reinterpret_cast <void (*)()>(&name)), \
        METH_VARARGS | METH_KEYWORDS, doc                                         \
  }

PyMethodDef kFunctions[] = {
    KIVO_BATCH_FUNCTION(cdist,
                        "cdist(queries, choices, *, scorer, score_cutoff=None, dtype=None, "
                        "workers=1, processor=None)\n--\n\n"
                        "The score of every query against every choice."),
    KIVO_BATCH_FUNCTION(cpdist,
                        "cpdist(queries, choices, *, scorer, score_cutoff=None, dtype=None, "
                        "workers=1, processor=None)\n--\n\n"
                        "The score of each query against the choice at its index."),
    KIVO_BATCH_FUNCTION(topk,
                        "topk(queries, choices, *, scorer, k=1, score_cutoff=None, workers=1, "
                        "processor=None)\n--\n\n"
                        "The k best choices of each query: (indices, scores)."),
    KIVO_BATCH_FUNCTION(pairs,
                        "pairs(queries, choices=None, *, scorer, score_cutoff, workers=1, "
                        "processor=None)\n--\n\n"
                        "The pairs whose score passes the cutoff: (i, j, scores)."),
    KIVO_BATCH_FUNCTION(minhash_signatures,
                        "minhash_signatures(texts, shingle_size, num_hashes, *, workers=1, "
                        "processor=None)\n--\n\n"
                        "The MinHash signature of every text, one per row."),
    KIVO_BATCH_FUNCTION(lsh_pairs,
                        "lsh_pairs(signatures, *, bands, rows, workers=1)\n--\n\n"
                        "The pairs (i, j), i < j, whose signatures share a band."),
    kSimdPathMethod,
    kLimitSimdMethod,
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef_Slot kSlots[] = {
#ifdef Py_mod_gil
    // No state of its own; the computation never needs the lock.
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr},
};

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT,
    KIVO_BATCH_NAME,
    "Many-to-many scoring: every function reads each text once, computes without the "
    "interpreter lock on `workers` threads and returns NumPy arrays.",
    0,
    kFunctions,
    kSlots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace kivo::py

PyMODINIT_FUNC KIVO_BATCH_INIT() {
  return PyModuleDef_Init(&kivo::py::kModule);
}
