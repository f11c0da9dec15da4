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

// Offset layouts: offsets are checked to rise from a non-negative start, and
// the bytes between the first and last are validated in one pass when no
// string starts inside a character; otherwise string by string, so a null's
// bytes never count.
template <class Offset>
std::optional<ExceptionDesc> append_offset_strings(const ArrowArray& array, std::size_t first,
                                                   std::vector<SourceText>& texts,
                                                   std::vector<std::size_t>& nulls) {
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
  bool valid = utf8::is_valid(all);
  // Within valid bytes, a string is valid on its own when it starts and ends
  // between characters.
  auto boundary = [&](Offset at) {
    return at == offsets[length] || (static_cast<unsigned char>(data[at]) & 0xC0) != 0x80;
  };
  for (std::size_t i = 0; i < length; ++i) {
    std::string_view bytes = bytes_of(i);
    bool null = is_null(array, i);
    if (null) nulls.push_back(first + i);
    bool whole = valid && (bytes.empty() || (boundary(offsets[i]) && boundary(offsets[i + 1])));
    if (!whole && !null) {
      std::size_t prefix = utf8::valid_prefix(bytes);
      if (prefix != bytes.size()) return invalid_utf8(first + i, prefix);
    }
    texts.push_back(null ? text_of({}) : text_of(bytes));
  }
  return {};
}

std::optional<ExceptionDesc> append_view_strings(const ArrowArray& array, std::size_t first,
                                                 std::vector<SourceText>& texts,
                                                 std::vector<std::size_t>& nulls) {
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
      nulls.push_back(first + i);
      texts.push_back(text_of({}));
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
    std::size_t prefix = utf8::valid_prefix(bytes);
    if (prefix != bytes.size()) return invalid_utf8(first + i, prefix);
    texts.push_back(text_of(bytes));
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

std::optional<ExceptionDesc> append_strings(StringLayout layout, const ArrowArray& array,
                                            std::size_t first, std::vector<SourceText>& texts,
                                            std::vector<std::size_t>& nulls) {
  if (array.release == nullptr) return malformed("it was already released");
  if (array.length < 0) return malformed("its length is negative");
  if (array.offset < 0) return malformed("its offset is negative");
  if (layout == StringLayout::Null) {
    for (std::size_t i = 0; i < std::size_t(array.length); ++i) {
      nulls.push_back(first + i);
      texts.push_back(text_of({}));
    }
    return {};
  }
  if (array.length > 0 && array.buffers == nullptr) return malformed("its buffers are missing");
  if (layout != StringLayout::View && array.n_buffers != 3) {
    return malformed("a utf8 array needs 3 buffers, not " + std::to_string(array.n_buffers));
  }
  // A length is the producer's word until its offsets are read: reserve no
  // more than a modest share up front.
  texts.reserve(texts.size() + std::min<std::size_t>(std::size_t(array.length), 1 << 20));
  switch (layout) {
    case StringLayout::Utf8: return append_offset_strings<std::int32_t>(array, first, texts, nulls);
    case StringLayout::LargeUtf8:
      return append_offset_strings<std::int64_t>(array, first, texts, nulls);
    default: return append_view_strings(array, first, texts, nulls);
  }
}

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

std::optional<ExceptionDesc> append_column(ColumnLayout layout, const ArrowArray& array,
                                           std::size_t first, std::vector<SourceText>& texts,
                                           std::vector<std::size_t>& nulls) {
  if (!layout.in_struct) return append_strings(layout.strings, array, first, texts, nulls);
  if (array.release == nullptr) return malformed("it was already released");
  if (array.length < 0 || array.offset < 0) return malformed("its length or offset is negative");
  if (array.n_children != 1 || array.children == nullptr || array.children[0] == nullptr) {
    return malformed("a one-column record batch needs its one child array");
  }
  if (array.n_buffers > 0 && array.buffers != nullptr && array.buffers[0] != nullptr &&
      array.null_count != 0) {
    return type_error("a record batch with null rows is not a string column");
  }
  // The struct's offset and length apply to its column too.
  ArrowArray column = *array.children[0];
  if (column.length < 0 || column.offset < 0 || column.length - array.offset < array.length) {
    return malformed("its column is shorter than the record batch");
  }
  column.offset += array.offset;
  column.length = array.length;
  return append_strings(layout.strings, column, first, texts, nulls);
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
