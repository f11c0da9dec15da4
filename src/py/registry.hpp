// What the module registers, in order: functions and the two classes.
#pragma once

#include <Python.h>

#include <string_view>
#include <vector>

#include "algo/measures.hpp"

namespace kivo::py {

struct Member {
  PyMethodDef* function;    // a module function, or
  PyTypeObject* (*type)();  // a class getter
};

const std::vector<Member>& members();

// The measure behind one of the module's measure functions, else null. A
// function is known by its native entry, whichever module object holds it.
const Measure* measure_of(PyObject* function);
// Whether `object` is the module function called `name`.
bool is_function(PyObject* object, std::string_view name);

}  // namespace kivo::py
