// Conversion of one bound argument to its native type. Every failure keeps
// its exception class and message and gains the note
// "while processing '<param>'".
#include "py/convert.hpp"

#include <algorithm>
#include <cstring>

#include "py/binder.hpp"
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

namespace {

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

std::vector<std::string> to_texts(PyObject* object) {
  if (PyUnicode_Check(object)) raise(PyExc_TypeError, "Can't extract `str` to `Vec`");
  if (!PySequence_Check(object)) type_mismatch(object, sequence_type_name());
  std::vector<std::string> out;
  Py_ssize_t length = PyObject_Size(object);
  if (length < 0) {
    PyErr_Clear();  // the length is only a size hint
  } else {
    // A sequence may claim any length; reserve no more than a modest amount.
    out.reserve(std::size_t(std::min<Py_ssize_t>(length, 1 << 12)));
  }
  Ref iterator = check(PyObject_GetIter(object));
  while (Ref item = Ref::steal(PyIter_Next(iterator.get()))) {
    out.emplace_back(to_text(item.get()));
  }
  if (PyErr_Occurred()) throw ErrorAlreadySet{};
  return out;
}

}  // namespace

void Args::wrong_kind(std::size_t i) const {
  throw InternalFault(callable_.full_name() + " read argument " + std::to_string(i) +
                      " as another kind than its parameter's");
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

void Args::fail(std::size_t i) const {
  raise_with_note(callable_.params[i].name);
}

void Args::convert(std::size_t i) {
  PyObject* object = objects_[i];
  Slot& slot = slots_[i];
  try {
    switch (callable_.params[i].kind) {
      case Param::Kind::Text: {
        std::string_view text = to_text(object);
        slot.data = text.data();
        slot.size = text.size();
        break;
      }
      case Param::Kind::Chars:
        // A lone surrogate has no UTF-8 form: the Text conversion raises for
        // it, and for anything but a str, with the usual message.
        if (!PyUnicode_Check(object) || holds_surrogates(object)) to_text(object);
        read_units(object, slot);
        break;
      case Param::Kind::Uint: slot.uint = to_uint(object); break;
      case Param::Kind::Real: slot.real = to_real(object); break;
      case Param::Kind::Flag: slot.flag = to_flag(object); break;
      case Param::Kind::Texts:
        slot.list = lists_.size();
        lists_.push_back(to_texts(object));
        break;
    }
  } catch (const ErrorAlreadySet&) {
    fail(i);
  }
}

}  // namespace kivo::py
