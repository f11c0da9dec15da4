// Immutable Python classes that wrap one native value. A class is a heap type
// made by PyType_FromSpec once per process; instances hold their Value inline
// and never change after construction, so they need no locking.
#pragma once

#include <Python.h>

#include <new>
#include <utility>

#include "py/binder.hpp"

namespace kivo::py {

template <class Value>
struct ValueObject {
  PyObject_HEAD Value value;
};

template <class Value>
const Value& value_of(PyObject* self) {
  return reinterpret_cast<ValueObject<Value>*>(self)->value;
}

// A new instance of `type` owning `value`.
template <class Value>
PyObject* wrap_value(PyTypeObject* type, Value value) {
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) throw ErrorAlreadySet{};
  new (&reinterpret_cast<ValueObject<Value>*>(self)->value) Value(std::move(value));
  return self;
}

// The same class as `self`, holding `value`: what every builder returns.
template <class Value>
PyObject* rewrap(PyObject* self, Value value) {
  return wrap_value(Py_TYPE(self), std::move(value));
}

template <class Value>
void dealloc_value(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  reinterpret_cast<ValueObject<Value>*>(self)->value.~Value();
  type->tp_free(self);
  Py_DECREF(type);
}

// tp_new for a class whose constructor takes no arguments and starts from a
// default Value; `Ctor` names it in argument errors ("Class.__new__()").
template <class Value, const Callable& Ctor>
PyObject* new_default(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    bind_no_arguments(Ctor, args, kwargs);
    return wrap_value(type, Value{});
  });
}

// Creates the heap type; returns null with an exception set on failure.
template <class Value>
PyTypeObject* make_value_type(const char* qualified_name, const char* doc, PyMethodDef* methods,
                              reprfunc repr, newfunc constructor) {
  PyType_Slot slots[] = {
      {Py_tp_new, reinterpret_cast<void*>(constructor)},
      {Py_tp_repr, reinterpret_cast<void*>(repr)},
      {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc_value<Value>)},
      {Py_tp_methods, methods},
      {Py_tp_doc, const_cast<char*>(doc)},
      {0, nullptr},
  };
  PyType_Spec spec = {qualified_name, int(sizeof(ValueObject<Value>)), 0,
                      Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, slots};
  return reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&spec));
}

}  // namespace kivo::py
