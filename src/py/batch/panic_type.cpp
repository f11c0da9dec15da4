// kivo.batch raises kivo's own PanicException: the class the kivo module
// made, fetched from it, so that one except clause catches both modules'.
#include "py/guard.hpp"

namespace kivo::py {

PyObject* panic_exception_type() {
  PyObject* module = PyImport_ImportModule("kivo");
  if (module == nullptr) return nullptr;
  PyObject* type = PyObject_GetAttrString(module, "PanicException");
  Py_DECREF(module);
  // The module keeps the class alive; a borrowed reference, like kivo's.
  if (type != nullptr) Py_DECREF(type);
  return type;
}

}  // namespace kivo::py
