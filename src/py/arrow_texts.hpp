// String columns from any object exporting the Arrow PyCapsule interface
// (__arrow_c_array__ or __arrow_c_stream__): pyarrow arrays and chunked
// arrays, polars Series, DuckDB results. The strings stay in the producer's
// buffers; no module of the producer is imported.
#pragma once

#include <Python.h>

#include <optional>

#include "py/text_lists.hpp"

namespace kivo::py {

// The column's texts, or nothing when `object` exports neither method. The
// list keeps the exported capsules (and a stream's arrays) alive until it is
// destroyed, which releases them. A column that is not utf8, large_utf8 or
// string_view is a TypeError; a malformed array, invalid UTF-8 or a failing
// stream a ValueError. The checked strings are in the list's `column`, not
// yet in its `sources`; nulls are kept in its `nulls`.
std::optional<TextList> read_arrow_texts(PyObject* object);

}  // namespace kivo::py
