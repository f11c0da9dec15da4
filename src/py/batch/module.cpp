// The kivo.batch module: many texts against many, computed without the
// interpreter lock on a pool of threads, with NumPy arrays as results. It
// lives in kivo's own shared object, beside the kivo module, and shares its
// functions, classes and hash key.
#include <Python.h>

#include <new>
#include <string>
#include <string_view>

#include "base/simd.hpp"
#include "batch/cpdist_pieces.hpp"
#include "py/batch/functions.hpp"
#include "py/batch/lsh_index_type.hpp"
#include "py/batch/stub_docs.hpp"
#include "py/binder.hpp"
#include "py/results.hpp"
#include "py/submodule.hpp"

namespace kivo::py {
namespace {

using A = const Args&;

// For tests and benchmarks only, kept out of every __all__ and stub: the
// vector path the kernels now run, and the widest one they may run (for the
// whole process; more than the processor has keeps its best).
PyObject* limit_simd(std::string_view name) {
  std::optional<simd::Isa> isa = simd::parse(name);
  if (!isa) {
    raise(PyExc_ValueError, "unknown vector path '" + std::string(name) +
                                "': expected 'portable', 'avx2' or 'avx512'");
  }
  simd::limit(*isa);
  return Py_NewRef(Py_None);
}

constexpr Callable kFunctions[] = {
    {"cdist",
     {object("queries"), object("choices"), keyword("scorer"), keyword("score_cutoff", "None"),
      keyword("dtype", "None"), keyword("workers", "1"), keyword("processor", "None"),
      keyword("nulls", "'error'")},
     [](PyObject*, A x) {
       return out_of_memory_raised("cdist", [&] {
         return cdist_impl(x.object(0), x.object(1), x.object(2), x.object(3), x.object(4),
                           x.object(5), x.object(6), x.object(7), false);
       });
     },
     nullptr,
     stub_docs::cdist},
    {"cpdist",
     {object("queries"), object("choices"), keyword("scorer"), keyword("score_cutoff", "None"),
      keyword("dtype", "None"), keyword("workers", "1"), keyword("processor", "None"),
      keyword("nulls", "'error'")},
     [](PyObject*, A x) {
       return out_of_memory_raised("cpdist", [&] {
         return cdist_impl(x.object(0), x.object(1), x.object(2), x.object(3), x.object(4),
                           x.object(5), x.object(6), x.object(7), true);
       });
     },
     nullptr,
     stub_docs::cpdist},
    {"topk",
     {object("queries"), object("choices"), keyword("scorer"), keyword("k", "1"),
      keyword("score_cutoff", "None"), keyword("workers", "1"), keyword("processor", "None"),
      keyword("nulls", "'error'")},
     [](PyObject*, A x) {
       return out_of_memory_raised("topk", [&] {
         return topk_impl(x.object(0), x.object(1), x.object(2), x.object(3), x.object(4),
                          x.object(5), x.object(6), x.object(7));
       });
     },
     nullptr,
     stub_docs::topk},
    {"pairs",
     {object("queries"), object("choices", "None"), keyword("scorer"), keyword("score_cutoff"),
      keyword("workers", "1"), keyword("processor", "None"), keyword("nulls", "'error'")},
     [](PyObject*, A x) {
       return out_of_memory_raised("pairs", [&] {
         return pairs_impl(x.object(0), x.object(1), x.object(2), x.object(3), x.object(4),
                           x.object(5), x.object(6));
       });
     },
     nullptr,
     stub_docs::pairs},
    {"extract",
     {object("query"), object("choices"), keyword("scorer"), keyword("limit", "5"),
      keyword("score_cutoff", "None"), keyword("processor", "None"), keyword("workers", "1"),
      keyword("nulls", "'error'")},
     [](PyObject*, A x) {
       return out_of_memory_raised("extract", [&] {
         return extract_impl(x.object(0), x.object(1), x.object(2), x.object(3), x.object(4),
                             x.object(5), x.object(6), x.object(7), false);
       });
     },
     nullptr,
     stub_docs::extract},
    {"extract_one",
     {object("query"), object("choices"), keyword("scorer"), keyword("score_cutoff", "None"),
      keyword("processor", "None"), keyword("workers", "1"), keyword("nulls", "'error'")},
     [](PyObject*, A x) {
       return out_of_memory_raised("extract_one", [&] {
         return extract_impl(x.object(0), x.object(1), x.object(2), nullptr, x.object(3),
                             x.object(4), x.object(5), x.object(6), true);
       });
     },
     nullptr,
     stub_docs::extract_one},
    {"minhash_signatures",
     {object("texts"), object("shingle_size"), object("num_hashes"), keyword("workers", "1"),
      keyword("processor", "None")},
     [](PyObject*, A x) {
       return out_of_memory_raised("minhash_signatures", [&] {
         return minhash_signatures_impl(x.object(0), x.object(1), x.object(2), x.object(3),
                                        x.object(4));
       });
     },
     nullptr,
     stub_docs::minhash_signatures},
    {"lsh_pairs",
     {object("signatures"), keyword("bands"), keyword("rows"), keyword("workers", "1")},
     [](PyObject*, A x) {
       return out_of_memory_raised("lsh_pairs", [&] {
         return lsh_pairs_impl(x.object(0), x.object(1), x.object(2), x.object(3));
       });
     },
     nullptr,
     stub_docs::lsh_pairs},
    {"encode",
     {object("texts"), keyword("encoder"), keyword("workers", "1")},
     [](PyObject*, A x) {
       return out_of_memory_raised(
           "encode", [&] { return encode_impl(x.object(0), x.object(1), x.object(2)); });
     },
     nullptr,
     stub_docs::encode},
    {"_simd_path",
     {},
     [](PyObject*, A) { return to_py(simd::name(simd::active())); },
     nullptr,
     "Private: the vector path the kernels now run (\"portable\", \"avx2\", \"avx512\")."},
    {"_limit_simd",
     {text("name")},
     [](PyObject*, A x) { return limit_simd(x.str(0)); },
     nullptr,
     "Private: the widest vector path the kernels may run, for the whole process."},
    {"_piece_rows",
     {uint("rows")},
     [](PyObject*, A x) { return to_py(std::uint64_t(batch::set_piece_rows(x.u64(0)))); },
     nullptr,
     "Private: the rows cpdist reads at a time, for the whole process; returns the last."},
};

int exec_module(PyObject* module) {
  PyTypeObject* index_type = lsh_index_type();
  return index_type == nullptr ? -1 : PyModule_AddType(module, index_type);
}

}  // namespace
}  // namespace kivo::py

// Found by the loader of kivo.batch (kivo/batch.py) in kivo's shared object.
PyMODINIT_FUNC PyInit_batch() {
  return kivo::py::submodule<kivo::py::kFunctions>("kivo.batch", kivo::py::stub_docs::module,
                                                   &kivo::py::exec_module);
}
