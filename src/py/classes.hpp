// The module's two classes. Each getter creates its class on first use and
// returns the same object afterwards (a borrowed reference; null with an
// exception set if creation failed).
#pragma once

#include <Python.h>

#include "router/router.hpp"
#include "text/pipeline.hpp"

namespace kivo::py {

// The native value each class's instances hold. kivo.batch reads instances
// through these same names, so the two modules cannot disagree on a layout.
using PreprocessorValue = PreprocessConfig;
using KivoFlowValue = Router;

PyTypeObject* preprocessor_type();
PyTypeObject* kivoflow_type();

}  // namespace kivo::py
