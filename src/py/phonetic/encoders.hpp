// What kivo.batch takes from kivo.phonetic: its key functions as encoders,
// known by their native entries.
#pragma once

#include <Python.h>

#include <optional>

#include "algo/phonetic/phonetic.hpp"

namespace kivo::py {

// The encoder behind one of kivo.phonetic's key functions, else nullopt.
std::optional<phonetic::Encoder> encoder_of(PyObject* function);

}  // namespace kivo::py
