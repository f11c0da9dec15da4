// The class kivo.batch.LSHIndex, made on first use and kept for the process
// (a borrowed reference; null with an exception set if it could not be made).
#pragma once

#include <Python.h>

namespace kivo::py {

PyTypeObject* lsh_index_type();

}  // namespace kivo::py
