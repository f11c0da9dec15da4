// Conversion of one bound argument to its native type. Every failure keeps
// its exception class and message and gains the note
// "while processing '<param>'".
#include "py/convert.hpp"

#include <algorithm>
#include <cstring>

#include "py/guard.hpp"
#include "py/once.hpp"

namespace kivo::py {

namespace {

std::string utf8_of(PyObject* text) {
  Py_ssize_t size = 0;
  const char* data = text != nullptr ? PyUnicode_AsUTF8AndSize(text, &size) : nullptr;
  if (data == nullptr) {
    PyErr_Clear();
    return {};
  }
  return std::string(data, std::size_t(size));
}

}  // namespace

std::string qualified_type_name(PyObject* object) {
  Ref name = Ref::steal(PyType_GetQualName(Py_TYPE(object)));
  if (!name) {
    PyErr_Clear();
    return "<failed to extract type name>";
  }
  return utf8_of(name.get());
}

void type_mismatch(PyObject* object, std::string_view expected) {
  std::string message =
      object == Py_None ? std::string("'None' is not an instance of '")
                        : "'" + qualified_type_name(object) + "' object is not an instance of '";
  message += expected;
  message += "'";
  raise(PyExc_TypeError, message);
}

std::string sequence_type_name() {
  static Once<PyObject> cached;
  PyObject* sequence = cached.get([] {
    Ref module = check(PyImport_ImportModule("collections.abc"));
    return PyObject_GetAttrString(module.get(), "Sequence");
  });
  if (sequence == nullptr) throw ErrorAlreadySet{};
  Ref name = Ref::steal(PyType_GetName(reinterpret_cast<PyTypeObject*>(sequence)));
  return name ? utf8_of(name.get()) : std::string("Sequence");
}

namespace {

std::string_view utf8_view(PyObject* object) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(object, &size);
  if (data == nullptr) throw ErrorAlreadySet{};
  return {data, std::size_t(size)};
}

}  // namespace

std::string_view to_text(PyObject* object) {
  if (!PyUnicode_Check(object)) type_mismatch(object, "str");
  return utf8_view(object);
}

std::uint64_t to_uint(PyObject* object) {
  Ref index = PyLong_Check(object) ? Ref::borrow(object) : check(PyNumber_Index(object));
  unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw ErrorAlreadySet{};
  return value;
}

double to_real(PyObject* object) {
  if (PyFloat_CheckExact(object)) return PyFloat_AS_DOUBLE(object);
  double value = PyFloat_AsDouble(object);
  if (value == -1.0 && PyErr_Occurred()) throw ErrorAlreadySet{};
  return value;
}

void raise_with_note(std::string_view param) {
  PyObject* exception = PyErr_GetRaisedException();
  std::string note = "while processing '" + std::string(param) + "'";
  Ref text = Ref::steal(PyUnicode_FromStringAndSize(note.data(), Py_ssize_t(note.size())));
  if (text && exception != nullptr) {
    PyObject* call_args[] = {exception, text.get()};
    static Once<PyObject> add_note;  // made once, kept for the process
    PyObject* name = add_note.get([] { return PyUnicode_InternFromString("add_note"); });
    Ref added = name ? Ref::steal(PyObject_VectorcallMethod(
                           name, call_args, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr))
                     : Ref();
    if (!added) PyErr_Clear();  // raise the exception without its note
  } else {
    PyErr_Clear();
  }
  PyErr_SetRaisedException(exception);
  throw ErrorAlreadySet{};
}

namespace {

bool is_numpy_bool(PyObject* object) {
  PyTypeObject* type = Py_TYPE(object);
  Ref module = Ref::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__module__"));
  if (!module) {
    PyErr_Clear();
    return false;
  }
  Ref name = Ref::steal(PyType_GetName(type));
  if (!name) {
    PyErr_Clear();
    return false;
  }
  std::string type_name = utf8_of(name.get());
  return PyUnicode_Check(module.get()) && utf8_of(module.get()) == "numpy" &&
         (type_name == "bool_" || type_name == "bool");
}

}  // namespace

bool to_flag(PyObject* object) {
  if (object == Py_True) return true;
  if (object == Py_False) return false;
  if (!is_numpy_bool(object)) type_mismatch(object, "bool");
  PyNumberMethods* number = Py_TYPE(object)->tp_as_number;
  if (number == nullptr || number->nb_bool == nullptr) {
    raise(PyExc_TypeError, "object of type '" + qualified_type_name(object) +
                               "' does not define a '__bool__' conversion");
  }
  int truth = number->nb_bool(object);
  if (truth < 0) throw ErrorAlreadySet{};
  return truth != 0;
}

}  // namespace kivo::py
