// Conversions of single Python values, shared by every binding of the
// package. Each throws ErrorAlreadySet with the Python exception set.
#pragma once

#include <Python.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "py/guard.hpp"

namespace kivo::py {

// TypeError "'<type>' object is not an instance of '<expected>'".
[[noreturn]] void type_mismatch(PyObject* object, std::string_view expected);
// The name of collections.abc.Sequence, imported once on the first rejection.
std::string sequence_type_name();
// The qualified name of the object's type, or a stand-in when it has none.
std::string qualified_type_name(PyObject* object);

// A str's UTF-8 form, borrowed from the str.
std::string_view to_text(PyObject* object);
// An unsigned 64-bit integer, through __index__.
std::uint64_t to_uint(PyObject* object);
double to_real(PyObject* object);
// True or False, or a NumPy bool.
bool to_flag(PyObject* object);

// Adds the note "while processing '<param>'" to the pending exception and
// throws ErrorAlreadySet.
[[noreturn]] void raise_with_note(std::string_view param);

// f(), with the note naming `param` on any Python exception it raises.
template <class F>
auto with_note(const char* param, F&& f) {
  try {
    return f();
  } catch (const ErrorAlreadySet&) {
    raise_with_note(param);
  }
}

}  // namespace kivo::py
