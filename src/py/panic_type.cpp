// The PanicException class, made by the kivo module once per process.
#include "py/guard.hpp"
#include "py/once.hpp"

namespace kivo::py {

PyObject* panic_exception_type() {
  static Once<PyObject> type;
  return type.get([] {
    return PyErr_NewExceptionWithDoc(
        "kivo.PanicException",
        "Raised when kivo hits an internal fault; derives from BaseException.", PyExc_BaseException,
        nullptr);
  });
}

}  // namespace kivo::py
