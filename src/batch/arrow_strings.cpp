#include "batch/arrow_strings.hpp"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "text/utf8_check.hpp"

namespace kivo::batch {

namespace {

// One string_view element: 4-byte length, then 12 inline bytes, or a 4-byte
// prefix, the variadic buffer's index and the offset into it.
struct View {
  std::int32_t length;
  std::int32_t prefix_or_inline;
  std::int32_t buffer;
  std::int32_t offset;
};
static_assert(sizeof(View) == 16);
constexpr std::int32_t kInlineBytes = 12;

ExceptionDesc malformed(const std::string& what) {
  return value_error("malformed Arrow array: " + what);
}

ExceptionDesc malformed_at(std::size_t position, const std::string& what) {
  return malformed("the string at position " + std::to_string(position) + " " + what);
}

ExceptionDesc invalid_utf8(std::size_t position, std::size_t byte) {
  return value_error("invalid UTF-8 in the string at position " + std::to_string(position) +
                     " (byte " + std::to_string(byte) + ")");
}

bool is_null(const ArrowArray& array, std::size_t i) {
  const auto* validity = static_cast<const std::uint8_t*>(array.buffers[0]);
  if (validity == nullptr) return false;
  std::size_t bit = std::size_t(array.offset) + i;
  return ((validity[bit / 8] >> (bit % 8)) & 1) == 0;
}

// Code units are left out: such texts are decoded from their UTF-8. An
// empty text still points somewhere, as every borrowed UTF-8 does.
SourceText text_of(std::string_view bytes) {
  return {bytes.empty() ? std::string_view("", 0) : bytes, {nullptr, 0, 1}};
}

// Where one pass over an array puts what it finds. Without `check` the array
// was checked before: its strings are read again without checking the UTF-8.
struct Reading {
  std::vector<SourceText>* texts = nullptr;  // none: only checked
  std::vector<std::size_t>* nulls = nullptr;
  bool check = true;
  std::size_t bytes = 0;    // of the strings, nulls' included where they have any
  std::size_t longest = 0;  // bytes of the longest string, likewise

  void add(SourceText text) const {
    if (texts != nullptr) texts->push_back(text);
  }
  void null_at(std::size_t position) const {
    if (nulls != nullptr) nulls->push_back(position);
  }
};

// Offset layouts: offsets are checked to rise from a non-negative start, and
// the bytes between the first and last are validated in one pass when no
// string starts inside a character; otherwise string by string, so a null's
// bytes never count.
template <class Offset>
std::optional<ExceptionDesc> read_offset_strings(const ArrowArray& array, std::size_t first,
                                                 Reading& reading) {
  std::size_t length = std::size_t(array.length);
  if (length == 0) return {};
  const auto* offsets = static_cast<const Offset*>(array.buffers[1]);
  const char* data = static_cast<const char*>(array.buffers[2]);
  if (offsets == nullptr) return malformed("its offsets buffer is missing");
  offsets += array.offset;
  if (offsets[0] < 0) return malformed("its first offset is negative");
  for (std::size_t i = 0; i < length; ++i) {
    if (offsets[i + 1] < offsets[i]) return malformed_at(first + i, "has a negative length");
  }
  if (offsets[length] > offsets[0] && data == nullptr) {
    return malformed("its data buffer is missing");
  }
  auto bytes_of = [&](std::size_t i) {
    std::size_t size = std::size_t(offsets[i + 1] - offsets[i]);
    return size == 0 ? std::string_view() : std::string_view(data + offsets[i], size);
  };
  std::string_view all(data == nullptr ? "" : data + offsets[0],
                       std::size_t(offsets[length] - offsets[0]));
  reading.bytes += all.size();
  bool valid = !reading.check || utf8::is_valid(all);
  // Within valid bytes, a string is valid on its own when it starts and ends
  // between characters.
  auto boundary = [&](Offset at) {
    return at == offsets[length] || (static_cast<unsigned char>(data[at]) & 0xC0) != 0x80;
  };
  for (std::size_t i = 0; i < length; ++i) {
    std::string_view bytes = bytes_of(i);
    reading.longest = std::max(reading.longest, bytes.size());
    bool null = is_null(array, i);
    if (null) reading.null_at(first + i);
    bool whole = valid && (!reading.check || bytes.empty() ||
                           (boundary(offsets[i]) && boundary(offsets[i + 1])));
    if (!whole && !null) {
      std::size_t prefix = utf8::valid_prefix(bytes);
      if (prefix != bytes.size()) return invalid_utf8(first + i, prefix);
    }
    reading.add(null ? text_of({}) : text_of(bytes));
  }
  return {};
}

std::optional<ExceptionDesc> read_view_strings(const ArrowArray& array, std::size_t first,
                                               Reading& reading) {
  // Validity, views, the variadic data buffers, then their sizes.
  if (array.n_buffers < 3) return malformed("a string_view array needs at least 3 buffers");
  std::size_t length = std::size_t(array.length);
  if (length == 0) return {};
  const auto* views = static_cast<const View*>(array.buffers[1]);
  if (views == nullptr) return malformed("its views buffer is missing");
  views += array.offset;
  std::size_t data_buffers = std::size_t(array.n_buffers - 3);
  const auto* sizes = static_cast<const std::int64_t*>(array.buffers[array.n_buffers - 1]);
  if (data_buffers > 0 && sizes == nullptr) return malformed("its buffer sizes are missing");
  for (std::size_t i = 0; i < length; ++i) {
    const View& view = views[i];
    bool null = is_null(array, i);
    if (null) {
      reading.null_at(first + i);
      reading.add(text_of({}));
      continue;
    }
    if (view.length < 0) return malformed_at(first + i, "has a negative length");
    std::string_view bytes;
    if (view.length <= kInlineBytes) {
      bytes = {reinterpret_cast<const char*>(&view.prefix_or_inline), std::size_t(view.length)};
    } else {
      if (view.buffer < 0 || std::size_t(view.buffer) >= data_buffers) {
        return malformed_at(first + i, "names a buffer it does not have");
      }
      const char* data = static_cast<const char*>(array.buffers[2 + view.buffer]);
      std::int64_t size = sizes[view.buffer];
      if (view.offset < 0 || data == nullptr || std::int64_t(view.offset) + view.length > size) {
        return malformed_at(first + i, "lies outside its buffer");
      }
      bytes = {data + view.offset, std::size_t(view.length)};
    }
    reading.bytes += bytes.size();
    reading.longest = std::max(reading.longest, bytes.size());
    if (reading.check) {
      std::size_t prefix = utf8::valid_prefix(bytes);
      if (prefix != bytes.size()) return invalid_utf8(first + i, prefix);
    }
    reading.add(text_of(bytes));
  }
  return {};
}

}  // namespace

std::optional<StringLayout> string_layout(const char* format) {
  if (format == nullptr) return {};
  std::string_view name(format);
  if (name == "u") return StringLayout::Utf8;
  if (name == "U") return StringLayout::LargeUtf8;
  if (name == "vu") return StringLayout::View;
  if (name == "n") return StringLayout::Null;
  return {};
}

namespace {

std::optional<ExceptionDesc> read_strings(StringLayout layout, const ArrowArray& array,
                                          std::size_t first, Reading& reading) {
  if (array.release == nullptr) return malformed("it was already released");
  if (array.length < 0) return malformed("its length is negative");
  if (array.offset < 0) return malformed("its offset is negative");
  if (layout == StringLayout::Null) {
    for (std::size_t i = 0; i < std::size_t(array.length); ++i) {
      reading.null_at(first + i);
      reading.add(text_of({}));
    }
    return {};
  }
  if (array.length > 0 && array.buffers == nullptr) return malformed("its buffers are missing");
  if (layout != StringLayout::View && array.n_buffers != 3) {
    return malformed("a utf8 array needs 3 buffers, not " + std::to_string(array.n_buffers));
  }
  // A length is the producer's word until its offsets are read: reserve no
  // more than a modest share up front.
  if (reading.texts != nullptr) {
    reading.texts->reserve(reading.texts->size() +
                           std::min<std::size_t>(std::size_t(array.length), 1 << 20));
  }
  switch (layout) {
    case StringLayout::Utf8: return read_offset_strings<std::int32_t>(array, first, reading);
    case StringLayout::LargeUtf8: return read_offset_strings<std::int64_t>(array, first, reading);
    default: return read_view_strings(array, first, reading);
  }
}

// The string array of a column's array: itself, or a record batch's column
// with the batch's offset and length.
Result<ArrowArray> strings_of(ColumnLayout layout, const ArrowArray& array) {
  if (!layout.in_struct) return array;
  if (array.release == nullptr) return malformed("it was already released");
  if (array.length < 0 || array.offset < 0) return malformed("its length or offset is negative");
  if (array.n_children != 1 || array.children == nullptr || array.children[0] == nullptr) {
    return malformed("a one-column record batch needs its one child array");
  }
  if (array.n_buffers > 0 && array.buffers != nullptr && array.buffers[0] != nullptr &&
      array.null_count != 0) {
    return type_error("a record batch with null rows is not a string column");
  }
  ArrowArray column = *array.children[0];
  if (column.length < 0 || column.offset < 0 || column.length - array.offset < array.length) {
    return malformed("its column is shorter than the record batch");
  }
  column.offset += array.offset;
  column.length = array.length;
  return column;
}

}  // namespace

Result<ColumnLayout> column_layout(const ArrowSchema& schema) {
  if (schema.release == nullptr) return malformed("its schema was already released");
  std::string format = schema.format == nullptr ? "" : schema.format;
  if (std::optional<StringLayout> layout = string_layout(schema.format)) {
    return ColumnLayout{*layout};
  }
  if (format == "+s" && schema.n_children == 1 && schema.children != nullptr &&
      schema.children[0] != nullptr) {
    if (std::optional<StringLayout> layout = string_layout(schema.children[0]->format)) {
      return ColumnLayout{*layout, true};
    }
  }
  if (format == "+s" && schema.n_children > 1) {
    return type_error("an Arrow table of " + std::to_string(schema.n_children) +
                      " columns is not a string column: pass one of its columns");
  }
  return type_error("an Arrow column of format '" + format +
                    "' is not a string column (utf8, large_utf8 or string_view)");
}

std::optional<ExceptionDesc> ArrowColumn::add(ColumnLayout layout, const ArrowArray& array,
                                              std::vector<std::size_t>& nulls) {
  Result<ArrowArray> strings = strings_of(layout, array);
  if (!strings.ok()) return std::get<ExceptionDesc>(strings.failure());
  Reading reading{nullptr, &nulls};
  if (std::optional<ExceptionDesc> failure =
          read_strings(layout.strings, strings.value(), size_, reading)) {
    return failure;
  }
  if (strings.value().length > 0) {
    arrays_.push_back({layout.strings, strings.value(), size_});
    size_ += std::size_t(strings.value().length);
  }
  bytes_ += reading.bytes;
  longest_ = std::max(longest_, reading.longest);
  return {};
}

void ArrowColumn::read(std::size_t begin, std::size_t end, std::vector<SourceText>& texts) const {
  if (end > size_ || begin > end) throw InternalFault("reading past the end of an Arrow column");
  if (begin == end) return;
  auto after = [](std::size_t position, const Piece& piece) { return position < piece.first; };
  auto piece = std::upper_bound(arrays_.begin(), arrays_.end(), begin, after) - 1;
  texts.reserve(texts.size() + (end - begin));
  for (std::size_t at = begin; at < end; ++piece) {
    ArrowArray slice = piece->array;
    std::size_t from = at - piece->first;
    std::size_t count = std::min(end, piece->first + std::size_t(slice.length)) - at;
    slice.offset += std::int64_t(from);
    slice.length = std::int64_t(count);
    Reading reading{&texts, nullptr, false};
    if (read_strings(piece->layout, slice, at, reading)) {
      throw InternalFault("an Arrow column failed when read again");
    }
    at += count;
  }
}

OwnedArrays::~OwnedArrays() {
  for (std::unique_ptr<ArrowArray>& array : arrays_) {
    if (array->release != nullptr) array->release(array.get());
  }
}

ArrowArray& OwnedArrays::add() {
  arrays_.push_back(std::make_unique<ArrowArray>());
  std::memset(arrays_.back().get(), 0, sizeof(ArrowArray));
  return *arrays_.back();
}

}  // namespace kivo::batch
