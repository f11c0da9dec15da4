// The submodules kivo's shared object holds beside kivo (kivo.batch,
// kivo.edit, ...): each a table of functions with no state of its own, made
// by its PyInit_<name>, which kivo/<name>.py finds in the shared object.
#pragma once

#include <Python.h>

#include "py/binder.hpp"

namespace kivo::py {

// The submodule whose functions are Table's; `exec` (if any) adds the rest
// (types) to each new module object. The definition is made once and lives
// for the process.
template <const auto& Table>
PyObject* submodule(const char* name, const char* doc, int (*exec)(PyObject*) = nullptr) {
  static PyModuleDef_Slot slots[3] = {};
  static PyModuleDef def = [&] {
    std::size_t n = 0;
    if (exec != nullptr) slots[n++] = {Py_mod_exec, reinterpret_cast<void*>(exec)};
#ifdef Py_mod_gil
    // No state of its own, and every function only reads its arguments.
    slots[n++] = {Py_mod_gil, Py_MOD_GIL_NOT_USED};
#endif
    return PyModuleDef{PyModuleDef_HEAD_INIT,
                       name,
                       doc,
                       0,
                       method_defs<Table>(),
                       slots,
                       nullptr,
                       nullptr,
                       nullptr};
  }();
  return PyModuleDef_Init(&def);
}

}  // namespace kivo::py
