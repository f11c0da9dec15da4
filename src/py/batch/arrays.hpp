// NumPy results without NumPy headers: arrays are made by numpy.empty,
// imported at call time, and filled through the buffer protocol.
#pragma once

#include <Python.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>

#include "batch/executor.hpp"
#include "batch/output.hpp"
#include "py/py_ref.hpp"

namespace kivo::py {

Ref import_numpy();

// A dtype a caller asked for (or the default), as numpy.dtype understands it.
struct Dtype {
  Ref object;  // a numpy.dtype
  batch::Element element;
  std::string name;
  bool integral;
  std::size_t item_size;
  double largest;  // the largest integer the type holds exactly, and all below it
};

// None is the default: float64 for similarities, int64 for distances. A
// dtype that is neither a native float (32, 64 bits) nor a native integer,
// or an integer for similarities, is a TypeError; every error carries the
// note naming 'dtype'.
Dtype resolve_dtype(PyObject* numpy, PyObject* requested, bool distance);
Dtype named_dtype(PyObject* numpy, const char* name);

// A new array from numpy.empty, its buffer held for writing until release().
// Whatever numpy.empty returns is checked to be a writable C-contiguous
// array of exactly this shape and dtype before anything is written to it;
// anything else is a TypeError. The shape must be one NumPy allows.
class Array {
 public:
  Array(PyObject* numpy, std::initializer_list<Py_ssize_t> shape, const Dtype& dtype);
  Array(const Array&) = delete;
  Array& operator=(const Array&) = delete;
  ~Array();

  batch::Output output() const { return {view_.buf, element_}; }
  // The buffer as the T its dtype holds.
  template <class T>
  T* data_as() const {
    if (element_ != batch::element_of<T>()) throw InternalFault("an array of another dtype");
    return static_cast<T*>(view_.buf);
  }
  // Lets go of the buffer and hands over the array.
  PyObject* release();

 private:
  Ref array_;
  Py_buffer view_{};
  bool held_ = false;
  batch::Element element_;
};

// A tuple of two int64 arrays of `count` pairs, filled by `fill` without the
// interpreter lock (see run_released); more pairs than an array holds is a
// MemoryError.
using PairFill = std::function<void(std::int64_t* first, std::int64_t* second, const batch::Pool&)>;
PyObject* pair_arrays(PyObject* numpy, std::size_t count, unsigned workers, bool small,
                      const PairFill& fill);

}  // namespace kivo::py
