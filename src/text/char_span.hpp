// A borrowed text as an array of fixed-width code units, one per character:
// 1, 2 or 4 bytes each. Character-level measures read such arrays without
// decoding; the binding hands them over when the host already stores the text
// that way. The units are Unicode scalar values (no surrogates).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace kivo {

// Trivially constructible (no default member values), so that a holder of
// several can be left uninitialised until each is written.
struct CharSpan {
  const void* data;
  std::size_t length;  // characters
  std::size_t width;   // bytes per character: 1, 2 or 4

  template <class U>
  std::span<const U> units() const {
    return {static_cast<const U*>(data), length};
  }
};

// Calls f with the text as std::span<const U>, U the unsigned type of its width.
template <class F>
[[gnu::always_inline]] inline decltype(auto) visit_units(const CharSpan& text, F&& f) {
  switch (text.width) {
    case 1: return f(text.units<std::uint8_t>());
    case 2: return f(text.units<std::uint16_t>());
    default: return f(text.units<std::uint32_t>());
  }
}

// Whether any unit is a surrogate (U+D800 to U+DFFF), which no scalar value
// is. Blocks of 64 units are counted without branches, in a counter as narrow
// as a unit, so the loop compares whole vectors.
template <class U>
bool has_surrogates(const U* units, std::size_t n) {
  static_assert(sizeof(U) > 1, "one-byte units cannot hold a surrogate");
  constexpr U kHigh = U(~U(0x7FF));  // all but the low 11 bits, in the unit's width
  auto surrogate = [](U u) { return U(U(u & kHigh) == 0xD800u); };
  std::size_t i = 0;
  for (; i + 64 <= n; i += 64) {
    U found = 0;
    for (std::size_t k = 0; k < 64; ++k) found += surrogate(units[i + k]);
    if (found != 0) return true;
  }
  U found = 0;
  for (; i < n; ++i) found |= surrogate(units[i]);
  return found != 0;
}

}  // namespace kivo
