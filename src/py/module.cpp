// The module entry: one execution slot that registers every member of the
// registration table in order, appending each name to __all__; where the
// interpreter knows the slot, a second one declares that no GIL is needed.
#include <Python.h>

#include "py/binder.hpp"
#include "py/convert.hpp"
#include "py/registry.hpp"

namespace kivo::py {
namespace {

// The module's __all__ list, created when the module has none; a module
// made from kivo's spec by hand may already hold one, or something else.
Ref all_list(PyObject* module) {
  Ref all = Ref::steal(PyObject_GetAttrString(module, "__all__"));
  if (all && PyList_Check(all.get())) return all;
  if (all) {
    raise(PyExc_TypeError,
          "'" + qualified_type_name(all.get()) + "' object is not an instance of 'list'");
  }
  if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw ErrorAlreadySet{};
  PyErr_Clear();
  all = check(PyList_New(0));
  if (PyObject_SetAttrString(module, "__all__", all.get()) < 0) throw ErrorAlreadySet{};
  return all;
}

void add_member(PyObject* module, PyObject* all, PyObject* name, PyObject* value) {
  if (PyList_Append(all, name) < 0) {
    throw InternalFault("could not append __name__ to __all__");
  }
  if (PyObject_SetAttr(module, name, value) < 0) throw ErrorAlreadySet{};
}

int exec_module(PyObject* module) {
  PyObject* outcome = guarded([&]() -> PyObject* {
    Ref module_name = check(PyModule_GetNameObject(module));
    Ref all = all_list(module);
    for (const Member& member : members()) {
      if (member.function != nullptr) {
        Ref function = check(PyCMethod_New(member.function, module, module_name.get(), nullptr));
        Ref name = check(PyUnicode_FromString(member.function->ml_name));
        add_member(module, all.get(), name.get(), function.get());
      } else {
        PyTypeObject* type = member.type();
        if (type == nullptr) throw ErrorAlreadySet{};
        Ref name = check(PyType_GetName(type));
        add_member(module, all.get(), name.get(), reinterpret_cast<PyObject*>(type));
      }
    }
    // Reachable for callers who want to catch it; not part of __all__.
    PyObject* panic = panic_exception_type();
    if (panic == nullptr || PyObject_SetAttrString(module, "PanicException", panic) < 0) {
      throw ErrorAlreadySet{};
    }
    // KIVO_VERSION comes from the build, the same number as the package's.
    Ref version = check(PyUnicode_FromString(KIVO_VERSION));
    if (PyObject_SetAttrString(module, "__version__", version.get()) < 0) throw ErrorAlreadySet{};
    return Py_NewRef(Py_None);
  });
  if (outcome == nullptr) return -1;
  Py_DECREF(outcome);
  return 0;
}

PyModuleDef_Slot kSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_module)},
#ifdef Py_mod_gil
    // Every call only reads its arguments and immutable instances, and the
    // few values made once per process are guarded (py/once.hpp), so
    // free-threaded interpreters may keep the GIL off.
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr},
};

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT, "kivo", "", 0, nullptr, kSlots, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace kivo::py

PyMODINIT_FUNC PyInit_kivo() {
  return PyModuleDef_Init(&kivo::py::kModule);
}
