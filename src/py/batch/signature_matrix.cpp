#include "py/batch/signature_matrix.hpp"

#include <cstring>
#include <string>

#include "py/convert.hpp"
#include "py/guard.hpp"

namespace kivo::py {

namespace {

std::string str_of(PyObject* object) {
  Ref text = check(PyObject_Str(object));
  return std::string(to_text(text.get()));
}

Py_ssize_t index_of(PyObject* object) {
  Ref index = check(PyNumber_Index(object));
  Py_ssize_t value = PyLong_AsSsize_t(index.get());
  if (value == -1 && PyErr_Occurred()) throw ErrorAlreadySet{};
  return value;
}

Py_ssize_t attribute_index(PyObject* object, const char* name) {
  Ref value = check(PyObject_GetAttrString(object, name));
  return index_of(value.get());
}

std::string at(std::size_t i) {
  return "signatures[" + std::to_string(i) + "]";
}
std::string at(std::size_t i, std::size_t k) {
  return "signatures[" + std::to_string(i) + ", " + std::to_string(k) + "]";
}

// "a float", "an int8", "None".
std::string a_type(PyObject* object) {
  if (object == Py_None) return "None";
  std::string name = qualified_type_name(object);
  bool vowel = !name.empty() && std::strchr("aeiouAEIOU", name[0]) != nullptr;
  return (vowel ? "an " : "a ") + name;
}

std::string values_text(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " value" : " values");
}

[[noreturn]] void out_of_range(PyObject* value, const std::string& where, bool negative) {
  std::string text;
  if (PyObject* printed = PyObject_Str(value)) {
    Ref owned = Ref::steal(printed);
    text = to_text(printed);
  } else {
    PyErr_Clear();  // too many digits to print
  }
  if (text.empty() || text.size() > 40) {
    text = negative ? "a negative number" : "a number beyond 2**64";
  }
  raise(PyExc_ValueError, where + " is " + text + ": signature values must be " +
                              (negative ? "non-negative" : "below 2**64"));
}

}  // namespace

SignatureMatrix::SignatureMatrix(PyObject* numpy, PyObject* object) : numpy_(numpy) {
  if (PyList_Check(object) || PyTuple_Check(object)) {
    read_rows(object);
    return;
  }
  Ref array = check(PyObject_CallMethod(numpy_, "asarray", "O", object));
  // numpy.asarray(None) holds an object, as do most things that are no
  // array at all: they are named rather than their dtype.
  Ref ndarray = check(PyObject_GetAttrString(numpy_, "ndarray"));
  int is_array = PyObject_IsInstance(object, ndarray.get());
  if (is_array < 0) throw ErrorAlreadySet{};
  if (!is_array) {
    Ref dtype = check(PyObject_GetAttrString(array.get(), "dtype"));
    Ref kind = check(PyObject_GetAttrString(dtype.get(), "kind"));
    if (to_text(kind.get()) == "O") {
      raise(PyExc_TypeError,
            "signatures must be an integer array or a list of sequences of ints, not " +
                a_type(object));
    }
  }
  array_ = exact(array.get(), 2, std::nullopt);
  if (PyObject_GetBuffer(array_.get(), &view_, PyBUF_ND) < 0) throw ErrorAlreadySet{};
  held_ = true;
  if (view_.ndim != 2 || view_.itemsize != 8) throw InternalFault("an unexpected uint64 array");
  data_ = static_cast<const std::uint64_t*>(view_.buf);
  count_ = std::size_t(view_.shape[0]);
  length_ = std::size_t(view_.shape[1]);
}
SignatureMatrix::~SignatureMatrix() {
  if (held_) PyBuffer_Release(&view_);
}

// `array` (an ndarray) as a C-contiguous uint64 array, with `ndim`
// dimensions; `row` is its place in a list of signatures.
Ref SignatureMatrix::exact(PyObject* array, Py_ssize_t ndim, std::optional<std::size_t> row) {
  std::string name = row ? at(*row) : std::string("signatures");
  Ref dtype = check(PyObject_GetAttrString(array, "dtype"));
  Ref kind_object = check(PyObject_GetAttrString(dtype.get(), "kind"));
  std::string_view kind = to_text(kind_object.get());
  if (kind != "i" && kind != "u") {
    raise(PyExc_TypeError,
          name + " must have an integer dtype (signed or unsigned), not " + str_of(dtype.get()));
  }
  Py_ssize_t dimensions = attribute_index(array, "ndim");
  if (dimensions != ndim) {
    raise(PyExc_ValueError, name + " must be " + std::to_string(ndim) + "-dimensional" +
                                (row ? std::string() : std::string(" (one signature per row)")) +
                                ", not " + std::to_string(dimensions) + "-dimensional");
  }
  if (kind == "i" && attribute_index(array, "size") > 0) {
    Ref zero = check(PyLong_FromLong(0));
    Ref low = check(PyObject_CallMethod(array, "min", nullptr));
    int negative = PyObject_RichCompareBool(low.get(), zero.get(), Py_LT);
    if (negative < 0) throw ErrorAlreadySet{};
    if (negative) {
      // The first one in row-major order.
      Ref below = check(PyObject_CallMethod(numpy_, "less", "OO", array, zero.get()));
      Ref first = check(PyObject_CallMethod(below.get(), "argmax", nullptr));
      Py_ssize_t flat = index_of(first.get());
      Ref items = check(PyObject_GetAttrString(array, "flat"));
      Ref position = check(PyLong_FromSsize_t(flat));
      Ref value = check(PyObject_GetItem(items.get(), position.get()));
      std::string where;
      if (row) {
        where = at(*row, std::size_t(flat));
      } else {
        Ref shape = check(PyObject_GetAttrString(array, "shape"));
        Ref second = check(PySequence_GetItem(shape.get(), 1));
        std::size_t length = std::size_t(index_of(second.get()));
        where = at(std::size_t(flat) / length, std::size_t(flat) % length);
      }
      out_of_range(value.get(), where, true);
    }
  }
  return check(PyObject_CallMethod(numpy_, "ascontiguousarray", "Os", array, "uint64"));
}

void SignatureMatrix::read_rows(PyObject* list) {
  listed_ = true;
  ndarray_ = check(PyObject_GetAttrString(numpy_, "ndarray"));
  Py_ssize_t expected = PyList_Check(list) ? PyList_GET_SIZE(list) : PyTuple_GET_SIZE(list);
  Ref iterator = check(PyObject_GetIter(list));
  while (Ref row = Ref::steal(PyIter_Next(iterator.get()))) {
    std::size_t before = values_.size();
    read_row(row.get());
    std::size_t length = values_.size() - before;
    if (count_ == 0) {
      length_ = length;
      values_.reserve(std::size_t(expected) * length);  // a hint: the list may change
    } else if (length != length_) {
      raise(PyExc_ValueError, at(count_) + " has " + values_text(length) + " and signatures[0] " +
                                  std::to_string(length_) +
                                  ": every signature must have the same length");
    }
    ++count_;
  }
  if (PyErr_Occurred()) throw ErrorAlreadySet{};
  data_ = values_.data();
}

void SignatureMatrix::read_row(PyObject* row) {
  int is_array = PyObject_IsInstance(row, ndarray_.get());
  if (is_array < 0) throw ErrorAlreadySet{};
  if (is_array) {
    Ref base = check(PyObject_CallMethod(numpy_, "asarray", "O", row));
    Ref values = exact(base.get(), 1, count_);
    Py_buffer view;
    if (PyObject_GetBuffer(values.get(), &view, PyBUF_ND) < 0) throw ErrorAlreadySet{};
    const auto* data = static_cast<const std::uint64_t*>(view.buf);
    std::size_t length = std::size_t(view.len) / sizeof(std::uint64_t);
    try {
      values_.insert(values_.end(), data, data + length);
    } catch (...) {
      PyBuffer_Release(&view);
      throw;
    }
    PyBuffer_Release(&view);
    return;
  }
  if (PyUnicode_Check(row) || PyBytes_Check(row) || PyByteArray_Check(row) ||
      !PySequence_Check(row)) {
    raise(PyExc_TypeError, at(count_) + " must be a sequence of ints, not " + a_type(row));
  }
  Ref iterator = check(PyObject_GetIter(row));
  for (std::size_t k = 0; Ref item = Ref::steal(PyIter_Next(iterator.get())); ++k) {
    values_.push_back(read_value(item.get(), k));
  }
  if (PyErr_Occurred()) throw ErrorAlreadySet{};
}

std::uint64_t SignatureMatrix::read_value(PyObject* item, std::size_t k) {
  if (PyBool_Check(item)) raise(PyExc_TypeError, at(count_, k) + " is a bool, not an int");
  Ref index;
  if (PyLong_Check(item)) {
    index = Ref::borrow(item);
  } else {
    index = Ref::steal(PyNumber_Index(item));
    if (!index) {
      if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw ErrorAlreadySet{};
      PyErr_Clear();
      raise(PyExc_TypeError, at(count_, k) + " is " + a_type(item) + ", not an int");
    }
  }
  unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    if (!PyErr_ExceptionMatches(PyExc_OverflowError)) throw ErrorAlreadySet{};
    PyErr_Clear();
    Ref zero = check(PyLong_FromLong(0));
    int negative = PyObject_RichCompareBool(index.get(), zero.get(), Py_LT);
    if (negative < 0) throw ErrorAlreadySet{};
    out_of_range(index.get(), at(count_, k), negative != 0);
  }
  return value;
}

}  // namespace kivo::py
