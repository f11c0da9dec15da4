// Validation of UTF-8 that comes from outside Python (Arrow buffers): the
// decoders in utf8.hpp trust their input, so borrowed bytes are checked once.
#pragma once

#include <cstddef>
#include <string_view>

namespace kivo::utf8 {

// The length of the longest prefix of `text` made of whole, well-formed
// characters (no overlong forms, surrogates or values past U+10FFFF):
// text.size() when all of it is valid.
std::size_t valid_prefix(std::string_view text);

inline bool is_valid(std::string_view text) {
  return valid_prefix(text) == text.size();
}

}  // namespace kivo::utf8
