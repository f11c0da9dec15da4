// Signatures as kivo.batch reads them (lsh_pairs, LSHIndex): integers of
// any width and byte order, none below zero or from 2**64 on, each error
// naming its position.
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "batch/lsh.hpp"
#include "py/py_ref.hpp"

namespace kivo::py {

// The signatures as a row-major matrix of uint64, read exactly. A NumPy array
// (or anything numpy.asarray makes one of) must have an integer dtype, of
// any width and byte order; a list or tuple holds one sequence of ints (or
// one 1-dimensional integer array) per signature. Errors carry no note: the
// caller adds its parameter's.
class SignatureMatrix {
 public:
  SignatureMatrix(PyObject* numpy, PyObject* object);
  SignatureMatrix(const SignatureMatrix&) = delete;
  SignatureMatrix& operator=(const SignatureMatrix&) = delete;
  ~SignatureMatrix();

  batch::Signatures signatures() const { return {data_, count_, length_}; }
  // An empty list: no signature, so no length either.
  bool no_length() const { return listed_ && count_ == 0; }

 private:
  Ref exact(PyObject* array, Py_ssize_t ndim, std::optional<std::size_t> row);
  void read_rows(PyObject* list);
  void read_row(PyObject* row);
  std::uint64_t read_value(PyObject* item, std::size_t k);

  PyObject* numpy_;
  Ref ndarray_;  // numpy.ndarray, while a list is read
  Ref array_;    // the uint64 array whose buffer `view_` holds
  Py_buffer view_{};
  bool held_ = false;
  std::vector<std::uint64_t> values_;  // read from a list
  bool listed_ = false;
  const std::uint64_t* data_ = nullptr;
  std::size_t count_ = 0;
  std::size_t length_ = 0;
};

}  // namespace kivo::py
