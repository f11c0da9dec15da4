#include "py/binder.hpp"

#include <cstring>

namespace kivo::py {

std::string Callable::full_name() const {
  std::string out;
  if (owner != nullptr) {
    out += owner;
    out += '.';
  }
  out += name;
  out += "()";
  return out;
}

std::string Callable::docstring() const {
  std::string out = name;
  out += '(';
  if (owner != nullptr && std::strcmp(name, "__new__") != 0) {
    out += "$self";
    if (param_count > 0) out += ", ";
  }
  for (std::size_t i = 0; i < param_count; ++i) {
    if (i > 0) out += ", ";
    out += params[i].name;
  }
  out += ")\n--\n\n";
  return out;
}

namespace {

[[noreturn]] void type_error(const std::string& message) {
  raise(PyExc_TypeError, message);
}

[[noreturn]] void too_many(const Callable& callable, Py_ssize_t given) {
  type_error(callable.full_name() + " takes " + std::to_string(callable.param_count) +
             " positional arguments but " + std::to_string(given) +
             (given == 1 ? " was" : " were") + " given");
}

[[noreturn]] void missing(const Callable& callable, PyObject* const* bound) {
  std::vector<std::string> names;
  for (std::size_t i = 0; i < callable.param_count; ++i) {
    if (bound[i] == nullptr) names.push_back(std::string("'") + callable.params[i].name + "'");
  }
  std::string list;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) list += names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", ");
    list += names[i];
  }
  type_error(callable.full_name() + " missing " + std::to_string(names.size()) +
             " required positional " + (names.size() == 1 ? "argument" : "arguments") + ": " +
             list);
}

// Index of the parameter called `keyword`, or -1.
Py_ssize_t find_param(const Callable& callable, PyObject* keyword) {
  Py_ssize_t size = 0;
  const char* text = PyUnicode_Check(keyword) ? PyUnicode_AsUTF8AndSize(keyword, &size) : nullptr;
  if (text == nullptr) {
    PyErr_Clear();
    return -1;
  }
  for (std::size_t i = 0; i < callable.param_count; ++i) {
    if (std::string_view(callable.params[i].name) == std::string_view(text, std::size_t(size))) {
      return Py_ssize_t(i);
    }
  }
  return -1;
}

void bind_keyword(const Callable& callable, PyObject* keyword, PyObject* value, PyObject** out) {
  Py_ssize_t index = find_param(callable, keyword);
  if (index < 0) {
    // Formatted by Python itself so that any keyword, even one holding a
    // lone surrogate, is shown as the caller wrote it.
    Ref message = check(PyUnicode_FromFormat("%s got an unexpected keyword argument '%S'",
                                             callable.full_name().c_str(), keyword));
    PyErr_SetObject(PyExc_TypeError, message.get());
    throw ErrorAlreadySet{};
  }
  if (out[index] != nullptr) {
    type_error(callable.full_name() + " got multiple values for argument '" +
               callable.params[index].name + "'");
  }
  out[index] = value;
}

}  // namespace

void bind(const Callable& callable, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
          PyObject** out) {
  if (nargs > Py_ssize_t(callable.param_count)) too_many(callable, nargs);
  for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = args[i];
  if (kwnames != nullptr) {
    Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < nkw; ++k) {
      bind_keyword(callable, PyTuple_GET_ITEM(kwnames, k), args[nargs + k], out);
    }
  }
  for (std::size_t i = 0; i < callable.param_count; ++i) {
    if (out[i] == nullptr) missing(callable, out);
  }
}

void bind_no_arguments(const Callable& callable, PyObject* args, PyObject* kwargs) {
  Py_ssize_t nargs = args != nullptr ? PyTuple_GET_SIZE(args) : 0;
  if (nargs > 0) too_many(callable, nargs);
  if (kwargs != nullptr && PyDict_GET_SIZE(kwargs) > 0) {
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    Py_ssize_t pos = 0;
    PyDict_Next(kwargs, &pos, &key, &value);
    PyObject* none[kMaxParams] = {};
    bind_keyword(callable, key, value, none);
  }
}

}  // namespace kivo::py
