#include "py/binder.hpp"

#include <cstring>

#include "py/convert.hpp"
#include "py/text_lists.hpp"

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
    if (i == positional_count && i < param_count) out += "*, ";
    out += params[i].name;
    if (!params[i].required()) {
      out += '=';
      out += params[i].default_text;
    }
  }
  out += ")\n--\n\n";
  if (doc != nullptr) out += doc;
  return out;
}

namespace {

[[noreturn]] void type_error(const std::string& message) {
  raise(PyExc_TypeError, message);
}

std::string plural(std::size_t count, const char* noun) {
  return std::string(noun) + (count == 1 ? "" : "s");
}

// kivo's own functions keep their fixed wording; a callable with optional or
// keyword-only parameters words it as Python does for such a def.
[[noreturn]] void too_many(const Callable& callable, Py_ssize_t given, std::size_t keywords_given) {
  std::size_t most = callable.positional_count;
  if (callable.plain()) {
    type_error(callable.full_name() + " takes " + std::to_string(most) +
               " positional arguments but " + std::to_string(given) +
               (given == 1 ? " was" : " were") + " given");
  }
  std::size_t least = 0;
  while (least < most && callable.params[least].required()) ++least;
  std::string takes = least == most
                          ? std::to_string(most) + " " + plural(most, "positional argument")
                          : "from " + std::to_string(least) + " to " + std::to_string(most) +
                                " positional arguments";
  std::string also;
  if (keywords_given > 0) {
    also = " " + plural(std::size_t(given), "positional argument") + " (and " +
           std::to_string(keywords_given) + " " + plural(keywords_given, "keyword-only argument") +
           ")";
  }
  type_error(callable.full_name() + " takes " + takes + " but " + std::to_string(given) + also +
             (given == 1 && keywords_given == 0 ? " was" : " were") + " given");
}

[[noreturn]] void missing(const Callable& callable, PyObject* const* bound) {
  std::vector<std::string> names;
  for (std::size_t i = 0; i < callable.positional_count; ++i) {
    const Param& param = callable.params[i];
    if (bound[i] == nullptr && param.required())
      names.push_back(std::string("'") + param.name + "'");
  }
  if (names.empty()) {
    for (std::size_t i = callable.positional_count; i < callable.param_count; ++i) {
      if (bound[i] == nullptr && callable.params[i].required()) {
        type_error(callable.full_name() + " missing required keyword-only argument: '" +
                   callable.params[i].name + "'");
      }
    }
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
  if (nargs > Py_ssize_t(callable.positional_count)) {
    std::size_t keywords_given = 0;
    for (Py_ssize_t k = 0; kwnames != nullptr && k < PyTuple_GET_SIZE(kwnames); ++k) {
      Py_ssize_t index = find_param(callable, PyTuple_GET_ITEM(kwnames, k));
      keywords_given += index >= Py_ssize_t(callable.positional_count);
    }
    too_many(callable, nargs, keywords_given);
  }
  for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = args[i];
  if (kwnames != nullptr) {
    Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < nkw; ++k) {
      bind_keyword(callable, PyTuple_GET_ITEM(kwnames, k), args[nargs + k], out);
    }
  }
  for (std::size_t i = 0; i < callable.param_count; ++i) {
    if (out[i] == nullptr && callable.params[i].required()) missing(callable, out);
  }
}

void bind_no_arguments(const Callable& callable, PyObject* args, PyObject* kwargs) {
  Py_ssize_t nargs = args != nullptr ? PyTuple_GET_SIZE(args) : 0;
  if (nargs > 0) too_many(callable, nargs, 0);
  if (kwargs != nullptr && PyDict_GET_SIZE(kwargs) > 0) {
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    Py_ssize_t pos = 0;
    PyDict_Next(kwargs, &pos, &key, &value);
    PyObject* none[kMaxParams] = {};
    bind_keyword(callable, key, value, none);
  }
}

void bind_tuple(const Callable& callable, PyObject* args, PyObject* kwargs, PyObject** out) {
  Py_ssize_t nargs = args != nullptr ? PyTuple_GET_SIZE(args) : 0;
  std::vector<PyObject*> values;  // borrowed from the call's tuple and dict
  for (Py_ssize_t i = 0; i < nargs; ++i) values.push_back(PyTuple_GET_ITEM(args, i));
  Ref names;
  if (kwargs != nullptr && PyDict_GET_SIZE(kwargs) > 0) {
    names = check(PyTuple_New(PyDict_GET_SIZE(kwargs)));
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    for (Py_ssize_t pos = 0, k = 0; PyDict_Next(kwargs, &pos, &key, &value); ++k) {
      PyTuple_SET_ITEM(names.get(), k, Py_NewRef(key));
      values.push_back(value);
    }
  }
  bind(callable, values.data(), nargs, names.get(), out);
}

namespace {

// Stopword lists: the same reader as every other list of texts.
std::vector<std::string> to_texts(PyObject* object) {
  TextList list = read_texts(object, /*check_signals=*/false);
  std::vector<std::string> out;
  out.reserve(list.sources.size());
  std::string buffer;
  for (const batch::SourceText& source : list.sources) {
    out.emplace_back(batch::utf8_of(source, buffer));
  }
  return out;
}

}  // namespace

void Args::wrong_kind(std::size_t i) const {
  throw InternalFault(callable_.full_name() + " read argument " + std::to_string(i) +
                      " as another kind than its parameter's");
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
      case Param::Kind::Object: slot.object = object; break;
    }
  } catch (const ErrorAlreadySet&) {
    fail(i);
  }
}

}  // namespace kivo::py
