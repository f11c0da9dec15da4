// What the module registers, in order: functions and the two classes.
#pragma once

#include <Python.h>

#include <vector>

namespace kivo::py {

struct Member {
  PyMethodDef* function;    // a module function, or
  PyTypeObject* (*type)();  // a class getter
};

const std::vector<Member>& members();

}  // namespace kivo::py
