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
#include <type_traits>
#include <utility>
#include <vector>

#include "py/guard.hpp"
#include "text/char_span.hpp"

namespace kivo::py {

inline constexpr std::size_t kMaxParams = 8;

// Whether a str's code units hold a surrogate, which only 2- and 4-byte forms
// can: such a str has no UTF-8 form.
inline bool holds_surrogates(PyObject* str) {
  std::size_t n = std::size_t(PyUnicode_GET_LENGTH(str));
  switch (PyUnicode_KIND(str)) {
    case PyUnicode_2BYTE_KIND: return has_surrogates(PyUnicode_2BYTE_DATA(str), n);
    case PyUnicode_4BYTE_KIND: return has_surrogates(PyUnicode_4BYTE_DATA(str), n);
    default: return false;
  }
}

class Args;
using Impl = PyObject* (*)(PyObject* self, const Args& args);

// A parameter and the native type its argument converts to. Arguments are
// converted in parameter order before the implementation runs, so the first
// failing argument is the one reported.
struct Param {
  // Text: a UTF-8 view. Chars: the str's own fixed-width code units, for the
  // character-level measures, which then need no decoding. Object: the
  // argument itself (null when an optional one is not given), which the
  // implementation reads.
  enum class Kind { Text, Chars, Uint, Real, Flag, Texts, Object };
  const char* name = nullptr;
  Kind kind = Kind::Text;
  bool keyword_only = false;
  // What the signature shows as the default of an optional parameter; null
  // for a required one. Only Object parameters may be optional.
  const char* default_text = nullptr;

  constexpr bool required() const { return default_text == nullptr; }
};
constexpr Param text(const char* name) {
  return {name, Param::Kind::Text};
}
constexpr Param chars(const char* name) {
  return {name, Param::Kind::Chars};
}
constexpr Param uint(const char* name) {
  return {name, Param::Kind::Uint};
}
constexpr Param real(const char* name) {
  return {name, Param::Kind::Real};
}
constexpr Param flag(const char* name) {
  return {name, Param::Kind::Flag};
}
constexpr Param texts(const char* name) {
  return {name, Param::Kind::Texts};
}
// Object parameters: positional-or-keyword, or keyword-only, each required
// or with the default its signature shows.
constexpr Param object(const char* name, const char* default_text = nullptr) {
  return {name, Param::Kind::Object, false, default_text};
}
constexpr Param keyword(const char* name, const char* default_text = nullptr) {
  return {name, Param::Kind::Object, true, default_text};
}

struct Callable {
  const char* name;
  std::array<Param, kMaxParams> params{};
  std::size_t param_count = 0;
  std::size_t positional_count = 0;  // the leading parameters that are not keyword-only
  Impl impl = nullptr;
  const char* owner = nullptr;  // class name for methods
  const char* doc = nullptr;    // what help() shows below the signature

  constexpr Callable(const char* name_, std::initializer_list<Param> params_, Impl impl_,
                     const char* owner_ = nullptr, const char* doc_ = nullptr)
      : name(name_), param_count(params_.size()), impl(impl_), owner(owner_), doc(doc_) {
    std::size_t i = 0;
    for (Param p : params_) {
      if (!p.keyword_only) positional_count = i + 1;
      params[i++] = p;
    }
  }

  // Whether every parameter is required and positional-or-keyword, so that
  // a call with exactly that many positional arguments needs no binding.
  constexpr bool plain() const {
    for (std::size_t i = 0; i < param_count; ++i) {
      if (params[i].keyword_only || !params[i].required()) return false;
    }
    return true;
  }

  // "name()" for functions, "Class.name()" for methods.
  std::string full_name() const;
  // The text signature, e.g. "f(a, b)\n--\n\n" or "m($self, a)\n--\n\n",
  // followed by `doc`.
  std::string docstring() const;
};

// Names the Callable Table[I], whose parameters are constants.
template <const auto& Table, std::size_t I>
struct Entry {};

// The converted arguments of one call, in parameter order. Views borrow the
// Python strings of the call.
class Args {
 public:
  // The arguments of Table[I]'s parameters, each converted as its kind, which
  // is a constant here: an exact, compact ASCII str is read in place without
  // a call, and nothing else is looked at. A failure gains the note
  // "while processing '<param>'" and throws ErrorAlreadySet.
  template <const auto& Table, std::size_t I>
  [[gnu::always_inline]] Args(Entry<Table, I>, PyObject* const* values)
      : callable_(Table[I]), objects_(values) {
    [&]<std::size_t... P>(std::index_sequence<P...>) {
      (take<Table[I].params[P].kind>(P), ...);
    }
    (std::make_index_sequence<Table[I].param_count>{});
  }

  // Each accessor reads parameter i as its own kind, which must be the
  // parameter's.
  std::string_view str(std::size_t i) const {
    expect(i, Param::Kind::Text);
    return {slots_[i].data, slots_[i].size};
  }
  // By reference: the span is handed on without copies.
  const CharSpan& chars(std::size_t i) const {
    expect(i, Param::Kind::Chars);
    return slots_[i].units;
  }
  std::uint64_t u64(std::size_t i) const {
    expect(i, Param::Kind::Uint);
    return slots_[i].uint;
  }
  double f64(std::size_t i) const {
    expect(i, Param::Kind::Real);
    return slots_[i].real;
  }
  bool boolean(std::size_t i) const {
    expect(i, Param::Kind::Flag);
    return slots_[i].flag;
  }
  const std::vector<std::string>& str_list(std::size_t i) const {
    expect(i, Param::Kind::Texts);
    return lists_[slots_[i].list];
  }
  // Borrowed; null for an optional parameter not given.
  PyObject* object(std::size_t i) const {
    expect(i, Param::Kind::Object);
    return slots_[i].object;
  }

 private:
  // Left uninitialised: each slot is written by the conversion of its
  // parameter before anything reads it, and clearing them costs a measurable
  // share of a short call.
  struct Slot {
    const char* data;  // Text
    std::size_t size;
    CharSpan units;  // Chars
    std::uint64_t uint;
    double real;
    bool flag;
    std::size_t list;  // Texts: the index in lists_
    PyObject* object;  // Object
  };
  static_assert(std::is_trivially_default_constructible_v<Slot>);

  template <Param::Kind Kind>
  [[gnu::always_inline]] void take(std::size_t i) {
    PyObject* object = objects_[i];
    if constexpr (Kind == Param::Kind::Object) {
      slots_[i].object = object;
      return;
    } else if constexpr (Kind == Param::Kind::Text || Kind == Param::Kind::Chars) {
      if (PyUnicode_CheckExact(object) && PyUnicode_IS_COMPACT_ASCII(object)) {
        const void* data = PyUnicode_DATA(object);
        std::size_t length = std::size_t(PyUnicode_GET_LENGTH(object));
        if constexpr (Kind == Param::Kind::Text) {
          slots_[i].data = static_cast<const char*>(data);
          slots_[i].size = length;
        } else {
          slots_[i].units = {data, length, 1};  // one byte per character, no surrogates
        }
        return;
      }
    }
    convert(i);
  }

  static void read_units(PyObject* object, Slot& slot) {
    slot.units = {PyUnicode_DATA(object), std::size_t(PyUnicode_GET_LENGTH(object)),
                  std::size_t(PyUnicode_KIND(object))};
  }

  // Reading a slot as another kind than its parameter's would read a value
  // that was never written: a fault of the registration table, raised as an
  // internal fault. One comparison on the hot path.
  void expect(std::size_t i, Param::Kind kind) const {
    if (i >= callable_.param_count || callable_.params[i].kind != kind) [[unlikely]] {
      wrong_kind(i);
    }
  }
  [[noreturn]] void wrong_kind(std::size_t i) const;

  void convert(std::size_t i);
  [[noreturn]] void fail(std::size_t i) const;

  const Callable& callable_;
  PyObject* const* objects_;
  std::array<Slot, kMaxParams> slots_;
  std::vector<std::vector<std::string>> lists_;  // the list-of-str arguments
};

// Binds a vectorcall argument array to the callable's parameters; on success
// out[0..param_count) holds borrowed references. Throws ErrorAlreadySet.
void bind(const Callable& callable, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
          PyObject** out);

// Binds the (tuple, dict) arguments of a constructor that takes none.
void bind_no_arguments(const Callable& callable, PyObject* args, PyObject* kwargs);
// Binds the (tuple, dict) arguments of a constructor as bind() does.
void bind_tuple(const Callable& callable, PyObject* args, PyObject* kwargs, PyObject** out);

// The METH_FASTCALL | METH_KEYWORDS entry point of Table[I].
template <const auto& Table, std::size_t I>
PyObject* fastcall(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  const Callable& callable = Table[I];
  // Inlined whole, with the implementation: a short call runs as one
  // function, its arguments handed on without a call or a closure.
  return guarded([&]() __attribute__((always_inline)) {
    Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    constexpr bool plain = Table[I].plain();
    if (plain && kwnames == nullptr && nargs == Py_ssize_t(callable.param_count)) {
      return callable.impl(self, Args(Entry<Table, I>{}, args));  // the common, exact case
    }
    PyObject* bound[kMaxParams] = {};
    bind(callable, args, nargs, kwnames, bound);
    return callable.impl(self, Args(Entry<Table, I>{}, bound));
  });
}

// A method table for every Callable of Table, with generated docstrings;
// built once, lives for the process. Building it calls no Python, so C++'s
// guarded static initialisation is all the locking it needs.
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
