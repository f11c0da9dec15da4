#include "py/guard.hpp"

#include <cstdio>
#include <cstdlib>

namespace kivo::py {

void raise_panic(const char* message) noexcept {
  // Whatever was pending is replaced by the fault itself.
  PyErr_Clear();
  PyObject* type = panic_exception_type();
  if (type == nullptr) {
    std::fputs("uncaught panic at ffi boundary\n", stderr);
    std::abort();
  }
  PyErr_SetString(type, message);
}

static PyObject* exception_class(ExceptionDesc::Class cls) {
  switch (cls) {
    case ExceptionDesc::Class::ValueError: return PyExc_ValueError;
    case ExceptionDesc::Class::MemoryError: return PyExc_MemoryError;
    case ExceptionDesc::Class::TypeError: return PyExc_TypeError;
  }
  return PyExc_ValueError;
}

void raise(PyObject* exception_class, std::string_view message) {
  // Built as a sized str so that messages holding NUL characters stay whole.
  Ref text = Ref::steal(PyUnicode_FromStringAndSize(message.data(), Py_ssize_t(message.size())));
  if (!text) throw InternalFault("could not create the exception message");
  PyErr_SetObject(exception_class, text.get());
  throw ErrorAlreadySet{};
}

void raise(const Failure& failure) {
  if (const auto* error = std::get_if<EngineError>(&failure)) {
    raise(PyExc_ValueError, error->display());
  }
  const auto& desc = std::get<ExceptionDesc>(failure);
  raise(exception_class(desc.cls), desc.message);
}

}  // namespace kivo::py
