// UTF-8 helpers shared by every measure. Input is always valid UTF-8 (Python
// hands over its own encoding), so decoding does no validation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/byte_kernels.hpp"

namespace kivo::utf8 {

inline bool is_continuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

// Start of the character that holds byte pos, for pos < text.size().
inline std::size_t char_start(std::string_view text, std::size_t pos) {
  while (pos > 0 && is_continuation(static_cast<unsigned char>(text[pos]))) --pos;
  return pos;
}

// Start of the character that ends at byte pos, for pos > 0.
inline std::size_t previous_start(std::string_view text, std::size_t pos) {
  do --pos;
  while (pos > 0 && is_continuation(static_cast<unsigned char>(text[pos])));
  return pos;
}

// Number of scalar values: the bytes that are not continuation bytes.
inline std::size_t count_chars(std::string_view text) {
  return text.size() - bytes::count_continuation(
                           reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

inline bool is_ascii(std::string_view text) {
  return bytes::is_ascii(reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

// Decodes the scalar value starting at text[pos] and advances pos past it.
inline char32_t next(std::string_view text, std::size_t& pos) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  unsigned char lead = s[pos];
  if (lead < 0x80) {
    ++pos;
    return lead;
  }
  if (lead < 0xE0) {
    char32_t cp = (char32_t(lead & 0x1F) << 6) | (s[pos + 1] & 0x3F);
    pos += 2;
    return cp;
  }
  if (lead < 0xF0) {
    char32_t cp =
        (char32_t(lead & 0x0F) << 12) | (char32_t(s[pos + 1] & 0x3F) << 6) | (s[pos + 2] & 0x3F);
    pos += 3;
    return cp;
  }
  char32_t cp = (char32_t(lead & 0x07) << 18) | (char32_t(s[pos + 1] & 0x3F) << 12) |
                (char32_t(s[pos + 2] & 0x3F) << 6) | (s[pos + 3] & 0x3F);
  pos += 4;
  return cp;
}

// Appends the UTF-8 encoding of cp to out.
void append(std::string& out, char32_t cp);

}  // namespace kivo::utf8
