// Callable descriptors and argument binding. Every function and method of the
// module is described once by a Callable; the fast-call entry point binds the
// positional and keyword arguments to its parameters, then hands them to the
// implementation as Args, whose accessors convert one argument each.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "guard.hpp"

namespace kivo::py {

inline constexpr std::size_t kMaxParams = 5;

class Args;
using Impl = PyObject* (*)(PyObject* self, const Args& args);

struct Callable {
  const char* name;
  std::array<const char*, kMaxParams> params{};
  std::size_t param_count = 0;
  Impl impl = nullptr;
  const char* owner = nullptr;  // class name for methods

  constexpr Callable(const char* name_, std::initializer_list<const char*> params_, Impl impl_,
                     const char* owner_ = nullptr)
      : name(name_), param_count(params_.size()), impl(impl_), owner(owner_) {
    std::size_t i = 0;
    for (const char* p : params_) params[i++] = p;
  }

  // "name()" for functions, "Class.name()" for methods.
  std::string full_name() const;
  // The text signature, e.g. "f(a, b)\n--\n\n" or "m($self, a)\n--\n\n".
  std::string docstring() const;
};

// The bound arguments of one call, in parameter order (borrowed references).
class Args {
 public:
  Args(const Callable& callable, PyObject* const* values) : callable_(callable), values_(values) {}

  PyObject* object(std::size_t i) const { return values_[i]; }
  std::string_view str(std::size_t i) const;
  std::uint64_t u64(std::size_t i) const;
  double f64(std::size_t i) const;
  bool boolean(std::size_t i) const;
  std::vector<std::string> str_list(std::size_t i) const;

 private:
  // Adds "while processing '<param>'" to the pending exception and throws.
  [[noreturn]] void fail(std::size_t i) const;

  const Callable& callable_;
  PyObject* const* values_;
};

// Binds a vectorcall argument array to the callable's parameters; on success
// out[0..param_count) holds borrowed references. Throws ErrorAlreadySet.
void bind(const Callable& callable, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
          PyObject** out);

// Binds the (tuple, dict) arguments of a constructor that takes none.
void bind_no_arguments(const Callable& callable, PyObject* args, PyObject* kwargs);

// The METH_FASTCALL | METH_KEYWORDS entry point of Table[I].
template <const auto& Table, std::size_t I>
PyObject* fastcall(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  const Callable& callable = Table[I];
  return guarded([&]() -> PyObject* {
    Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    if (kwnames == nullptr && nargs == Py_ssize_t(callable.param_count)) {
      return callable.impl(self, Args(callable, args));  // the common, exact case
    }
    PyObject* bound[kMaxParams] = {};
    bind(callable, args, nargs, kwnames, bound);
    return callable.impl(self, Args(callable, bound));
  });
}

// A method table for every Callable of Table, with generated docstrings;
// built once, lives for the process.
template <const auto& Table>
PyMethodDef* method_defs() {
  constexpr std::size_t N = std::size(Table);
  static std::array<std::string, N> docs;
  static std::array<PyMethodDef, N + 1> defs = [] {
    std::array<PyMethodDef, N + 1> out{};
    [&]<std::size_t... I>(std::index_sequence<I...>) {
      ((docs[I] = Table[I].docstring(),
        out[I] = PyMethodDef{Table[I].name,
                             reinterpret_cast<PyCFunction>(
                                 reinterpret_cast<void (*)()>(&fastcall<Table, I>)),
                             METH_FASTCALL | METH_KEYWORDS, docs[I].c_str()}),
       ...);
    }
    (std::make_index_sequence<N>{});
    return out;
  }();
  return defs.data();
}

}  // namespace kivo::py
