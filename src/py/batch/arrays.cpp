#include "py/batch/arrays.hpp"

#include <vector>

#include "batch/result_size.hpp"
#include "py/batch/run.hpp"
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

// The buffer protocol's native struct codes, by kind and size.
struct Code {
  char code;
  char kind;
  std::size_t size;
};

constexpr Code kCodes[] = {
    {'f', 'f', sizeof(float)},
    {'d', 'f', sizeof(double)},
    {'b', 'i', sizeof(signed char)},
    {'h', 'i', sizeof(short)},
    {'i', 'i', sizeof(int)},
    {'l', 'i', sizeof(long)},
    {'q', 'i', sizeof(long long)},
    {'B', 'u', sizeof(unsigned char)},
    {'H', 'u', sizeof(unsigned short)},
    {'I', 'u', sizeof(unsigned int)},
    {'L', 'u', sizeof(unsigned long)},
    {'Q', 'u', sizeof(unsigned long long)},
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

Dtype dtype_of(PyObject* numpy, PyObject* requested, bool distance) {
  Dtype out;
  // One argument, whatever it is: a tuple is a dtype of its own (a subarray
  // or a structure), never numpy.dtype's argument list.
  Ref make = check(PyObject_GetAttrString(numpy, "dtype"));
  out.object = check(PyObject_CallOneArg(make.get(), requested));
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
      out.item_size = std::size_t(k.size);
      out.largest = largest_of(k.kind, k.size);
      if (out.integral && !distance) {
        raise(PyExc_TypeError, "similarity scores need a float dtype, not '" + out.name + "'");
      }
      return out;
    }
  }
  raise(PyExc_TypeError, "dtype must be a native float or integer type, not '" + out.name + "'");
}

const Kind& kind_of(batch::Element element) {
  for (const Kind& k : kKinds) {
    if (k.element == element) return k;
  }
  throw InternalFault("an element type without a kind");
}

// Whether a buffer's format is the native struct code of this kind.
bool format_is(const char* format, const Kind& kind) {
  if (format == nullptr) format = "B";  // the protocol's default
  if (format[0] == '@') ++format;
  if (format[0] == '\0' || format[1] != '\0') return false;
  for (const Code& c : kCodes) {
    if (c.code == format[0]) return c.kind == kind.kind && long(c.size) == kind.size;
  }
  return false;
}

// Whether a buffer is exactly a writable C-contiguous array of this shape
// and dtype.
bool holds(const Py_buffer& view, const std::vector<std::uint64_t>& extents, const Dtype& dtype) {
  if (view.readonly || view.ndim != int(extents.size()) || view.shape == nullptr) return false;
  if (view.itemsize != Py_ssize_t(dtype.item_size)) return false;
  if (!format_is(view.format, kind_of(dtype.element))) return false;
  std::uint64_t bytes = dtype.item_size;
  for (std::size_t i = 0; i < extents.size(); ++i) {
    if (std::uint64_t(view.shape[i]) != extents[i]) return false;
    bytes *= extents[i];
  }
  return std::uint64_t(view.len) == bytes && PyBuffer_IsContiguous(&view, 'C');
}

}  // namespace

Ref import_numpy() {
  return check(PyImport_ImportModule("numpy"));
}

Dtype resolve_dtype(PyObject* numpy, PyObject* requested, bool distance) {
  if (requested == nullptr || requested == Py_None) {
    return named_dtype(numpy, distance ? "int64" : "float64");
  }
  try {
    return dtype_of(numpy, requested, distance);
  } catch (const ErrorAlreadySet&) {
    raise_with_note("dtype");
  }
}

Dtype named_dtype(PyObject* numpy, const char* name) {
  Ref text = check(PyUnicode_FromString(name));
  return dtype_of(numpy, text.get(), name[0] != 'f');
}

Array::Array(PyObject* numpy, std::initializer_list<Py_ssize_t> shape, const Dtype& dtype)
    : element_(dtype.element) {
  std::vector<std::uint64_t> extents;
  Ref dims = check(PyTuple_New(Py_ssize_t(shape.size())));
  for (Py_ssize_t extent : shape) {
    if (extent < 0) throw InternalFault("a result extent that was never checked");
    PyTuple_SET_ITEM(dims.get(), Py_ssize_t(extents.size()),
                     check(PyLong_FromSsize_t(extent)).release());
    extents.push_back(std::uint64_t(extent));
  }
  array_ = check(PyObject_CallMethod(numpy, "empty", "OO", dims.get(), dtype.object.get()));
  // numpy.empty is an attribute anyone may replace: nothing is written to
  // what it returns until that is known to be the array asked for.
  if (PyObject_GetBuffer(array_.get(), &view_,
                         PyBUF_C_CONTIGUOUS | PyBUF_FORMAT | PyBUF_WRITABLE) == 0) {
    held_ = true;
  } else {
    PyErr_Clear();
  }
  if (!held_ || !holds(view_, extents, dtype)) {
    if (held_) PyBuffer_Release(&view_);  // no destructor runs for a constructor that throws
    held_ = false;
    raise(PyExc_TypeError, "numpy.empty returned a '" + qualified_type_name(array_.get()) +
                               "', not a writable C-contiguous " + dtype.name + " array of shape " +
                               batch::shape_text(extents));
  }
}

Array::~Array() {
  if (held_) PyBuffer_Release(&view_);
}

PyObject* Array::release() {
  if (held_) PyBuffer_Release(&view_);
  held_ = false;
  return array_.release();
}

PyObject* pair_arrays(PyObject* numpy, std::size_t count, unsigned workers, bool small,
                      const PairFill& fill) {
  if (count > std::size_t(PY_SSIZE_T_MAX) / sizeof(std::int64_t)) {
    raise(PyExc_MemoryError, std::to_string(count) + " pairs are more than an array can hold");
  }
  Dtype index_type = named_dtype(numpy, "int64");
  Array first(numpy, {Py_ssize_t(count)}, index_type);
  Array second(numpy, {Py_ssize_t(count)}, index_type);
  if (count > 0) {
    run_released(
        workers,
        [&](const batch::Pool& pool) {
          fill(first.data_as<std::int64_t>(), second.data_as<std::int64_t>(), pool);
        },
        small);
  }
  Ref a = Ref::steal(first.release());
  Ref b = Ref::steal(second.release());
  return check(PyTuple_Pack(2, a.get(), b.get())).release();
}

}  // namespace kivo::py
