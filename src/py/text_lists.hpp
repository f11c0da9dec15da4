// A list argument of texts, read once: a snapshot of its items (which keeps
// every str alive for the call) and a native view of each.
#pragma once

#include <Python.h>

#include <vector>

#include "batch/texts.hpp"
#include "py/py_ref.hpp"

namespace kivo::py {

struct TextList {
  Ref items;  // a list holding the strs
  std::vector<batch::SourceText> sources;

  std::size_t characters() const {
    std::size_t total = 0;
    for (const batch::SourceText& source : sources) total += source.units.length;
    return total;
  }
};

// Whether scoring these lists is too little work for a thread of its own.
inline bool small_work(std::size_t pairs, std::size_t characters) {
  return pairs <= 256 && characters <= 4096;
}

// Rejects a str, a non-sequence and any item that is not a str, with the
// module's messages; throws ErrorAlreadySet. Items come from iteration: a
// sequence's length, even a failing one, is never trusted. A str holding a
// lone surrogate fails as its UTF-8 conversion does; no str is changed. With
// `check_signals` (kivo.batch's lists, which may be long), Ctrl-C stops the
// reading: signal handlers run every few thousand items.
TextList read_texts(PyObject* sequence, bool check_signals = true);

}  // namespace kivo::py
