// The module's two classes. Each getter creates its class on first use and
// returns the same object afterwards (a borrowed reference; null with an
// exception set if creation failed).
#pragma once

#include <Python.h>

namespace kivo::py {

PyTypeObject* preprocessor_type();
PyTypeObject* kivoflow_type();

}  // namespace kivo::py
