// Native results as new Python objects. Failing to make one is an internal
// fault (the interpreter is out of memory).
#pragma once

#include <Python.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "py/guard.hpp"

namespace kivo::py {

inline PyObject* to_py(std::uint64_t value) {
  // Through PyLong_FromLong when it fits, which hands out small ints directly.
  if (value <= std::uint64_t(LONG_MAX)) return result(PyLong_FromLong(long(value)));
  return result(PyLong_FromUnsignedLongLong(value));
}
inline PyObject* to_py(double value) {
  return result(PyFloat_FromDouble(value));
}
inline PyObject* to_py(bool value) {
  return Py_NewRef(value ? Py_True : Py_False);
}
inline PyObject* to_py(std::string_view text) {
  return result(PyUnicode_FromStringAndSize(text.data(), Py_ssize_t(text.size())));
}
inline PyObject* to_py(const std::string& text) {
  return to_py(std::string_view(text));
}
// Text known to be ASCII: a compact str is made and filled in place, with no
// decoding.
inline PyObject* ascii_to_py(std::string_view text) {
  PyObject* str = result(PyUnicode_New(Py_ssize_t(text.size()), 127));
  std::memcpy(PyUnicode_DATA(str), text.data(), text.size());
  return str;
}

inline PyObject* to_py(const std::vector<std::uint64_t>& values) {
  Ref list = Ref::steal(result(PyList_New(Py_ssize_t(values.size()))));
  for (std::size_t i = 0; i < values.size(); ++i) {
    PyList_SET_ITEM(list.get(), Py_ssize_t(i), to_py(values[i]));
  }
  return list.release();
}

}  // namespace kivo::py
