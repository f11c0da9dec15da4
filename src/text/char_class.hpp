// The two character classes every text-splitting step shares, and ASCII
// lowercasing, the shortcut every lowercasing step takes for ASCII bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kivo {

// Unicode White_Space: exactly 25 code points.
constexpr bool is_whitespace(char32_t c) {
  if (c <= 0x20) return c == 0x20 || (c >= 0x09 && c <= 0x0D);
  if (c < 0x85) return false;
  return c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 ||
         c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

// The 32 printable ASCII characters that are neither letters, digits nor space.
constexpr bool is_ascii_punctuation(char32_t c) {
  return (c >= 0x21 && c <= 0x2F) || (c >= 0x3A && c <= 0x40) || (c >= 0x5B && c <= 0x60) ||
         (c >= 0x7B && c <= 0x7E);
}

// Bytes of 0x80 and above pass unchanged, so this also works on UTF-8.
constexpr char ascii_lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

inline void lowercase_ascii_in_place(std::string& text) {
  for (char& c : text) c = ascii_lower(c);
}

// Byte length of a whitespace character of two or more bytes at s, or 0: the
// multi-byte members all start with C2, E1, E2 or E3.
__attribute__((always_inline)) inline std::size_t wide_whitespace_length(const unsigned char* s) {
  switch (s[0]) {
    case 0xC2: return s[1] == 0x85 || s[1] == 0xA0 ? 2 : 0;  // U+0085, U+00A0
    case 0xE1: return s[1] == 0x9A && s[2] == 0x80 ? 3 : 0;  // U+1680
    case 0xE3: return s[1] == 0x80 && s[2] == 0x80 ? 3 : 0;  // U+3000
    case 0xE2:
      if (s[1] == 0x80) {  // U+2000..U+200A, U+2028, U+2029, U+202F
        unsigned char last = s[2];
        return last <= 0x8A || last == 0xA8 || last == 0xA9 || last == 0xAF ? 3 : 0;
      }
      return s[1] == 0x81 && s[2] == 0x9F ? 3 : 0;  // U+205F
    default: return 0;
  }
}

// Byte length of the whitespace character that starts at text[pos], or 0 when
// the character there is not whitespace. Works on the UTF-8 bytes directly so
// the splitting steps never decode. text must be valid UTF-8; pos may be any
// byte position, and a continuation byte always gives 0, so callers can step
// byte by byte: small enough to inline in every compiler.
__attribute__((always_inline)) inline std::size_t whitespace_length(std::string_view text,
                                                                    std::size_t pos) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data()) + pos;
  unsigned char lead = s[0];
  if (lead < 0x80) return lead == 0x20 || (lead >= 0x09 && lead <= 0x0D) ? 1 : 0;
  if (lead != 0xC2 && (lead < 0xE1 || lead > 0xE3)) return 0;
  return wide_whitespace_length(s);
}

}  // namespace kivo
