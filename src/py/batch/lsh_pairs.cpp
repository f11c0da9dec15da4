// kivo.batch.lsh_pairs: the signatures read exactly, the pairs found without
// the interpreter lock and written once, into the arrays returned.
#include <Python.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "batch/lsh.hpp"
#include "py/batch/arrays.hpp"
#include "py/batch/functions.hpp"
#include "py/batch/run.hpp"
#include "py/batch/signature_matrix.hpp"
#include "py/convert.hpp"
#include "py/guard.hpp"

namespace kivo::py {

PyObject* lsh_pairs_impl(PyObject* signatures_object, PyObject* bands_object, PyObject* rows_object,
                         PyObject* workers_object) {
  std::uint64_t bands = read_count_argument(bands_object, "bands");
  std::uint64_t rows = read_count_argument(rows_object, "rows");
  long workers = read_workers_argument(workers_object);
  Ref numpy = import_numpy();
  std::optional<SignatureMatrix> matrix;
  with_note("signatures", [&] { matrix.emplace(numpy.get(), signatures_object); });
  batch::Signatures signatures = matrix->signatures();
  std::size_t length = signatures.length;
  if (bands == 0 || rows == 0 ||
      (!matrix->no_length() && (bands > length || rows > length / bands))) {
    raise(PyExc_ValueError, "bands and rows must be positive with bands * rows at most " +
                                std::to_string(length) + " (the signature length)");
  }
  // Workers sort the bands, then share the texts out in small runs.
  unsigned threads =
      batch::worker_count(workers, std::max<std::size_t>(bands, signatures.count / 64 + 1));
  bool small = signatures.count <= 256 && signatures.count * length <= 16384;
  std::optional<batch::LshPairs> found;
  run_released(
      threads, [&](const batch::Pool& pool) { found.emplace(signatures, bands, rows, pool); },
      small);
  matrix.reset();  // read: a converted copy goes before the result comes
  return pair_arrays(numpy.get(), found->size(), threads, small,
                     [&](std::int64_t* first, std::int64_t* second, const batch::Pool& pool) {
                       found->write(first, second, pool);
                     });
}

}  // namespace kivo::py
