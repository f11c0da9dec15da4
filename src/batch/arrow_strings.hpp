// String columns in the Arrow C Data Interface, read where they lie: each
// string becomes a SourceText borrowing the producer's buffers. Everything a
// producer hands over is checked before a byte is trusted: the layout's
// format, lengths and offsets, view bounds, and the UTF-8 itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/error.hpp"
#include "batch/texts.hpp"

// The interface's ABI, as every producer and consumer declares it.
extern "C" {
#ifndef ARROW_C_DATA_INTERFACE
#define ARROW_C_DATA_INTERFACE

struct ArrowSchema {
  const char* format;
  const char* name;
  const char* metadata;
  int64_t flags;
  int64_t n_children;
  struct ArrowSchema** children;
  struct ArrowSchema* dictionary;
  void (*release)(struct ArrowSchema*);
  void* private_data;
};

struct ArrowArray {
  int64_t length;
  int64_t null_count;
  int64_t offset;
  int64_t n_buffers;
  int64_t n_children;
  const void** buffers;
  struct ArrowArray** children;
  struct ArrowArray* dictionary;
  void (*release)(struct ArrowArray*);
  void* private_data;
};

#endif
#ifndef ARROW_C_STREAM_INTERFACE
#define ARROW_C_STREAM_INTERFACE

struct ArrowArrayStream {
  int (*get_schema)(struct ArrowArrayStream*, struct ArrowSchema* out);
  int (*get_next)(struct ArrowArrayStream*, struct ArrowArray* out);
  const char* (*get_last_error)(struct ArrowArrayStream*);
  void (*release)(struct ArrowArrayStream*);
  void* private_data;
};

#endif
}

namespace kivo::batch {

// The string layouts read: utf8 (int32 offsets), large_utf8 (int64 offsets)
// and string_view (16-byte views into inline bytes or variadic buffers); and
// the null type, whose every element is null (what an empty or all-None
// column becomes when its type is inferred).
enum class StringLayout { Utf8, LargeUtf8, View, Null };

// The layout a format string names, or nothing for any other type.
std::optional<StringLayout> string_layout(const char* format);

// A column's strings: an array of a string layout, or a record batch (a
// struct without nulls of its own, as tables and query results export) of one
// string column.
struct ColumnLayout {
  StringLayout strings;
  bool in_struct = false;
};

// The schema's layout, or a TypeError naming what it is instead.
Result<ColumnLayout> column_layout(const ArrowSchema& schema);

// A column's arrays, each checked once before a byte is trusted (a
// malformed array, or invalid UTF-8 in a non-null string, is a ValueError
// naming the position; nothing is read past what the array's own lengths and
// offsets describe) without keeping a text per string, then read in pieces
// where they lie (a null as an empty text). The arrays are borrowed: their
// owner keeps them.
class ArrowColumn {
 public:
  // Checks an array of this column's layout and adds it at the end; its
  // nulls' positions are appended to `nulls`.
  std::optional<ExceptionDesc> add(ColumnLayout layout, const ArrowArray& array,
                                   std::vector<std::size_t>& nulls);

  std::size_t size() const { return size_; }
  // The bytes of its strings: a measure of the work they make.
  std::size_t bytes() const { return bytes_; }
  // The bytes of its longest string.
  std::size_t longest() const { return longest_; }
  // The texts at positions [begin, end), appended to `texts` (a null as an
  // empty text). Reads no byte outside the strings themselves.
  void read(std::size_t begin, std::size_t end, std::vector<SourceText>& texts) const;

 private:
  struct Piece {
    StringLayout layout;
    ArrowArray array;   // a string array, a record batch's column taken out
    std::size_t first;  // its first position in the column
  };
  std::vector<Piece> arrays_;
  std::size_t size_ = 0;
  std::size_t bytes_ = 0;
  std::size_t longest_ = 0;
};

// Arrays taken from a stream, released (once each) when this is destroyed.
class OwnedArrays {
 public:
  OwnedArrays() = default;
  OwnedArrays(const OwnedArrays&) = delete;
  OwnedArrays& operator=(const OwnedArrays&) = delete;
  ~OwnedArrays();

  // A zeroed array to be filled by the producer; owned from then on.
  ArrowArray& add();

 private:
  std::vector<std::unique_ptr<ArrowArray>> arrays_;
};

}  // namespace kivo::batch
