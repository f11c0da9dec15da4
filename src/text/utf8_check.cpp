#include "text/utf8_check.hpp"

#include "base/byte_kernels.hpp"

namespace kivo::utf8 {

namespace {

// ASCII is skipped this many bytes at a time by the byte kernels.
constexpr std::size_t kAsciiBlock = 64;

bool in(unsigned char byte, unsigned char low, unsigned char high) {
  return byte >= low && byte <= high;
}

// The length of the well-formed character at s[0..n), n > 0 and s[0] >= 0x80,
// or 0 when it is not one.
std::size_t character_length(const unsigned char* s, std::size_t n) {
  unsigned char lead = s[0];
  // The second byte's range depends on the lead byte; the rest are 80..BF.
  unsigned char low = 0x80, high = 0xBF;
  std::size_t length;
  if (in(lead, 0xC2, 0xDF)) {
    length = 2;
  } else if (in(lead, 0xE0, 0xEF)) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (in(lead, 0xF0, 0xF4)) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // past U+10FFFF
  } else {
    return 0;
  }
  if (n < length || !in(s[1], low, high)) return 0;
  for (std::size_t k = 2; k < length; ++k) {
    if (!in(s[k], 0x80, 0xBF)) return 0;
  }
  return length;
}

}  // namespace

std::size_t valid_prefix(std::string_view text) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  std::size_t n = text.size();
  std::size_t pos = 0;
  while (pos < n) {
    if (n - pos >= kAsciiBlock && bytes::is_ascii(s + pos, kAsciiBlock)) {
      pos += kAsciiBlock;
      continue;
    }
    if (s[pos] < 0x80) {
      ++pos;
      continue;
    }
    std::size_t length = character_length(s + pos, n - pos);
    if (length == 0) return pos;
    pos += length;
  }
  return n;
}

}  // namespace kivo::utf8
