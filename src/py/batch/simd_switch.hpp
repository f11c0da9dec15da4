// kivo.batch's two private functions for tests and benchmarks, kept out of
// every __all__ and stub: _simd_path() names the vector path the kernels of
// this module now run ("portable", "avx2", "avx512"), and _limit_simd(name)
// sets the widest one they may run; more than the processor has keeps its
// best. The single calls of kivo keep the best path whatever the limit.
#pragma once

#include <Python.h>

namespace kivo::py {

PyObject* simd_path(PyObject* module, PyObject* unused);
PyObject* limit_simd(PyObject* module, PyObject* name);

inline constexpr PyMethodDef kSimdPathMethod = {
    "_simd_path", simd_path, METH_NOARGS,
    "_simd_path()\n--\n\nPrivate: the vector path kivo.batch's kernels now run."};
inline constexpr PyMethodDef kLimitSimdMethod = {
    "_limit_simd", limit_simd, METH_O,
    "_limit_simd(name, /)\n--\n\nPrivate: the widest vector path kivo.batch's kernels may run "
    "(\"portable\", \"avx2\" or \"avx512\")."};

}  // namespace kivo::py
