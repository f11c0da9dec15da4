// The per-call guard. Every entry point runs its body through guarded(): the
// body either returns a new reference, or leaves a Python exception set and
// throws ErrorAlreadySet; any other C++ exception is an internal fault and is
// raised as PanicException. Nothing escapes into the interpreter.
#pragma once

#include <Python.h>

#include <exception>
#include <new>
#include <string_view>

#include "base/error.hpp"
#include "py/py_ref.hpp"

namespace kivo::py {

// Thrown after a Python exception has been set; carries nothing itself.
struct ErrorAlreadySet {};

// The PanicException class, created once per process.
PyObject* panic_exception_type();

// Sets the Python exception for an internal fault with this message.
void raise_panic(const char* message) noexcept;

// Sets the Python exception a Failure describes, then throws ErrorAlreadySet.
[[noreturn]] void raise(const Failure& failure);
[[noreturn]] void raise(PyObject* exception_class, std::string_view message);

// Unwraps a computing Result, raising its failure.
template <class T>
T take(Result<T>&& result) {
  if (!result.ok()) raise(result.failure());
  return std::move(result.value());
}

// Wraps a fresh reference from the C API; a null one means the call failed.
inline Ref check(PyObject* object) {
  if (object == nullptr) throw ErrorAlreadySet{};
  return Ref::steal(object);
}

// A Python result object that could not be made is an internal fault.
inline PyObject* result(PyObject* object) {
  if (object == nullptr) throw InternalFault("could not create the result object");
  return object;
}

template <class Body>
[[gnu::always_inline]] inline PyObject* guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (const ErrorAlreadySet&) {
    return nullptr;
  } catch (const std::bad_alloc&) {
    raise_panic("memory allocation failed");
  } catch (const std::exception& e) {
    raise_panic(e.what());
  } catch (...) {
    raise_panic("unknown internal fault");
  }
  return nullptr;
}

}  // namespace kivo::py
