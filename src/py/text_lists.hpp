// A list argument of texts, read once: a snapshot of its items (which keeps
// every str alive for the call) and a native view of each.
#pragma once

#include <Python.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

#include "batch/arrow_strings.hpp"
#include "batch/texts.hpp"
#include "py/py_ref.hpp"

namespace kivo::py {

struct TextList {
  Ref items;  // a list holding the strs, or what owns the borrowed Arrow buffers
  std::vector<batch::SourceText> sources;
  // Positions holding a null, ascending (their sources are empty texts).
  std::vector<std::size_t> nulls;
  // Arrays taken from an Arrow stream, released with the list.
  std::shared_ptr<batch::OwnedArrays> arrays;
  // An Arrow column's strings, checked, while they are not in `sources`.
  std::optional<batch::ArrowColumn> column;
  // Code points of texts borrowed as UTF-8 alone, once decode_units() ran.
  std::vector<char32_t> decoded;
  bool strs = true;  // items holds each text's str at its position

  std::size_t size() const { return column ? column->size() : sources.size(); }
  // The longest text's code units (UTF-8 bytes for one held as UTF-8 alone).
  std::size_t longest() const {
    if (column) return column->longest();
    std::size_t most = 0;
    for (const batch::SourceText& source : sources) {
      most =
          std::max(most, source.units.data != nullptr ? source.units.length : source.utf8.size());
    }
    return most;
  }
  std::size_t characters() const {
    if (column) return column->bytes();
    std::size_t total = 0;
    for (const batch::SourceText& source : sources) {
      total += source.units.data != nullptr ? source.units.length : source.utf8.size();
    }
    return total;
  }
  // Gives every source its code units, decoding those borrowed as UTF-8 alone.
  void decode_units();
};

// How kivo.batch reads a null (None, a float NaN or pandas.NA in a sequence,
// a null in an Arrow column): refused with a ValueError naming its position
// (with a hint where the function can skip nulls), or kept in `nulls`.
enum class Nulls { Refused, Skippable, Kept };

// Whether scoring these lists is too little work for a thread of its own.
inline bool small_work(std::size_t pairs, std::size_t characters) {
  return pairs <= 256 && characters <= 4096;
}

// The same for the pairs of cpdist, each scored once: a pair's work grows at
// most with the product of its lengths, so a few thousand pairs of short
// texts (a DuckDB vector of names) are over in milliseconds, sooner than a
// thread of their own would pay off. The longest text is looked for only
// among few enough texts.
inline bool small_pairwise_work(const TextList& queries, const TextList& choices) {
  return queries.size() <= 16384 && queries.characters() + choices.characters() <= 65536 &&
         std::max(queries.longest(), choices.longest()) <= 256;
}

// Rejects a str, a non-sequence and any item that is not a str, with the
// module's messages; throws ErrorAlreadySet. Items come from iteration: a
// sequence's length, even a failing one, is never trusted. A str holding a
// lone surrogate fails as its UTF-8 conversion does; no str is changed. With
// `check_signals` (kivo.batch's lists, which may be long), Ctrl-C stops the
// reading: signal handlers run every few thousand items.
TextList read_texts(PyObject* sequence, bool check_signals = true);

// kivo.batch's texts: an object exporting an Arrow string column (read in
// place, see py/arrow_texts.hpp), or a sequence as read_texts reads it, nulls
// as `nulls` says. With `in_place`, an Arrow column's texts are left in its
// `column`, to be read a piece at a time. A null's position in a message
// counts from `first` (the sequence is a slice of the caller's).
TextList read_batch_texts(PyObject* object, Nulls nulls, bool in_place = false,
                          std::size_t first = 0);

// One item of a sequence as read_batch_texts reads it, `position` its place
// for a null's message: nothing for a null that `nulls` keeps.
std::optional<batch::SourceText> batch_text_item(PyObject* item, std::size_t position, Nulls nulls);

// One item of a list of texts as read_batch_texts reads it with nulls
// refused: a null's message names `position`. Its views are the str's own.
batch::SourceText text_item(PyObject* item, std::size_t position);

}  // namespace kivo::py
