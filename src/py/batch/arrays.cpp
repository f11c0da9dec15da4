#include "py/batch/arrays.hpp"

#include "py/convert.hpp"
#include "py/guard.hpp"

namespace kivo::py {

namespace {

struct Kind {
  char kind;
  long size;
  batch::Element element;
};

constexpr Kind kKinds[] = {
    {'f', 4, batch::Element::F32}, {'f', 8, batch::Element::F64}, {'i', 1, batch::Element::I8},
    {'i', 2, batch::Element::I16}, {'i', 4, batch::Element::I32}, {'i', 8, batch::Element::I64},
    {'u', 1, batch::Element::U8},  {'u', 2, batch::Element::U16}, {'u', 4, batch::Element::U32},
    {'u', 8, batch::Element::U64},
};

double largest_of(char kind, long size) {
  if (kind == 'f') return size == 4 ? 16777216.0 : 9007199254740992.0;  // 2^24, 2^53
  int bits = int(size * 8) - (kind == 'i' ? 1 : 0);
  return bits >= 53 ? 9007199254740992.0 : double((std::uint64_t(1) << bits) - 1);
}

std::string str_of(PyObject* object) {
  Ref text = check(PyObject_Str(object));
  return std::string(to_text(text.get()));
}

}  // namespace

Ref import_numpy() {
  return check(PyImport_ImportModule("numpy"));
}

Dtype resolve_dtype(PyObject* numpy, PyObject* requested, bool distance) {
  if (requested == nullptr || requested == Py_None) {
    return named_dtype(numpy, distance ? "int64" : "float64");
  }
  Dtype out;
  try {
    out.object = check(PyObject_CallMethod(numpy, "dtype", "O", requested));
  } catch (const ErrorAlreadySet&) {
    raise_with_note("dtype");
  }
  out.name = str_of(out.object.get());
  Ref kind = check(PyObject_GetAttrString(out.object.get(), "kind"));
  Ref size = check(PyObject_GetAttrString(out.object.get(), "itemsize"));
  Ref native = check(PyObject_GetAttrString(out.object.get(), "isnative"));
  std::string_view kind_text = to_text(kind.get());
  long item_size = PyLong_AsLong(size.get());
  if (item_size == -1 && PyErr_Occurred()) throw ErrorAlreadySet{};
  for (const Kind& k : kKinds) {
    if (kind_text.size() == 1 && kind_text[0] == k.kind && item_size == k.size &&
        native.get() == Py_True) {
      out.element = k.element;
      out.integral = k.kind != 'f';
      out.largest = largest_of(k.kind, k.size);
      if (out.integral && !distance) {
        raise(PyExc_TypeError, "similarity scores need a float dtype, not '" + out.name + "'");
      }
      return out;
    }
  }
  raise(PyExc_TypeError, "dtype must be a native float or integer type, not '" + out.name + "'");
}

Dtype named_dtype(PyObject* numpy, const char* name) {
  Ref text = check(PyUnicode_FromString(name));
  return resolve_dtype(numpy, text.get(), name[0] != 'f');
}

Array::Array(PyObject* numpy, std::initializer_list<Py_ssize_t> shape, const Dtype& dtype)
    : element_(dtype.element) {
  Ref dims = check(PyTuple_New(Py_ssize_t(shape.size())));
  Py_ssize_t i = 0;
  for (Py_ssize_t extent : shape)
    PyTuple_SET_ITEM(dims.get(), i++, check(PyLong_FromSsize_t(extent)).release());
  array_ = check(PyObject_CallMethod(numpy, "empty", "OO", dims.get(), dtype.object.get()));
  if (PyObject_GetBuffer(array_.get(), &view_, PyBUF_CONTIG) < 0) throw ErrorAlreadySet{};
  held_ = true;
}

Array::~Array() {
  if (held_) PyBuffer_Release(&view_);
}

PyObject* Array::release() {
  if (held_) PyBuffer_Release(&view_);
  held_ = false;
  return array_.release();
}

}  // namespace kivo::py
