// The kivo.tokens module: ratios on the Indel similarity that forgive token
// order, extra tokens and surrounding text. It lives in kivo's shared object;
// every function is a row of the measure table, so kivo.batch scores them too.
#include <Python.h>

#include "py/binder.hpp"
#include "py/measure_functions.hpp"
#include "py/submodule.hpp"
#include "py/tokens_docs.hpp"

namespace kivo::py {
namespace {

constexpr Callable kFunctions[] = {
    measure_callable<true>("ratio", tokens_docs::ratio),
    measure_callable<true>("partial_ratio", tokens_docs::partial_ratio),
    measure_callable<true>("token_sort_ratio", tokens_docs::token_sort_ratio),
    measure_callable<true>("token_set_ratio", tokens_docs::token_set_ratio),
    measure_callable<true>("partial_token_sort_ratio", tokens_docs::partial_token_sort_ratio),
    measure_callable<true>("partial_token_set_ratio", tokens_docs::partial_token_set_ratio),
    measure_callable<true>("weighted_ratio", tokens_docs::weighted_ratio),
};

}  // namespace

PyCFunction tokens_measure_entry(const Measure& row) {
  return entry_named<kFunctions>(row.name);
}

}  // namespace kivo::py

// Found by the loader of kivo.tokens (kivo/tokens.py) in kivo's shared object.
PyMODINIT_FUNC PyInit_tokens() {
  return kivo::py::submodule<kivo::py::kFunctions>("kivo.tokens", kivo::py::tokens_docs::module);
}
