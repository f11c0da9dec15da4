#include "text/latin_letters.hpp"

#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

#include <array>
#include <cstdint>
#include <string_view>

#include "base/cancel.hpp"
#include "base/error.hpp"

namespace kivo {
namespace {

char upper_ascii_letter(char32_t c) {
  if (c >= 'a' && c <= 'z') return char(c - 'a' + 'A');
  if (c >= 'A' && c <= 'Z') return char(c);
  return 0;
}

// Latin letters with no canonical decomposition that still carry one of the
// 26: a stroke, a ligature, a sharp s.
std::string_view without_decomposition(char32_t c) {
  switch (c) {
    case U'ß':
    case U'ẞ': return "SS";
    case U'æ':
    case U'Æ': return "AE";
    case U'œ':
    case U'Œ': return "OE";
    case U'ø':
    case U'Ø': return "O";
    case U'ł':
    case U'Ł': return "L";
    case U'đ':
    case U'Đ': return "D";
    case U'ħ':
    case U'Ħ': return "H";
    case U'ı': return "I";
    default: return {};
  }
}

const icu::Normalizer2& decomposer() {
  static const icu::Normalizer2* const instance = [] {
    UErrorCode code = U_ZERO_ERROR;
    const icu::Normalizer2* n = icu::Normalizer2::getNFDInstance(code);
    if (U_FAILURE(code)) throw InternalFault(std::string("ICU failed: ") + u_errorName(code));
    return n;
  }();
  return *instance;
}

void append_non_ascii(std::string& out, char32_t c) {
  std::string_view special = without_decomposition(c);
  if (!special.empty()) {
    out += special;
    return;
  }
  // Only letters decompose to an ASCII letter and marks; symbols that
  // decompose to one (the Kelvin sign) are the letter they stand for.
  icu::UnicodeString decomposition;
  if (!decomposer().getDecomposition(static_cast<UChar32>(c), decomposition)) return;
  if (char letter = upper_ascii_letter(char32_t(decomposition.char32At(0)))) out += letter;
}

// The reading of every character below U+0180 (ASCII, Latin-1, Latin
// Extended-A), worked out once through the general path: most names are made
// of these, and a lookup spares the decomposition. Each reads as at most two
// letters; a zero ends a shorter reading.
constexpr char32_t kTabled = 0x180;
using Reading = std::array<char, 2>;

const std::array<Reading, kTabled>& readings() {
  static const std::array<Reading, kTabled> table = [] {
    std::array<Reading, kTabled> t{};
    for (char32_t c = 0; c < kTabled; ++c) {
      std::string letters;
      if (char letter = upper_ascii_letter(c)) {
        letters += letter;
      } else if (c >= 0x80) {
        append_non_ascii(letters, c);
      }
      if (letters.size() > 2) throw InternalFault("a Latin reading longer than two letters");
      for (std::size_t i = 0; i < letters.size(); ++i) t[c][i] = letters[i];
    }
    return t;
  }();
  return table;
}

}  // namespace

void append_latin_letters(const CharSpan& text, std::string& out) {
  const std::array<Reading, kTabled>& table = readings();
  std::size_t start = out.size();
  // Room for the longest reading of every character; the general path may
  // grow the buffer further (its readings are at most two letters as well).
  out.resize(start + 2 * text.length);
  visit_units(text, [&](auto units) {
    cancel::Meter meter;
    char* write = out.data() + start;
    for (auto unit : units) {
      meter.add();
      char32_t c = char32_t(unit);
      if (c < kTabled) {
        const Reading& reading = table[c];
        write[0] = reading[0];
        write[1] = reading[1];
        write += (reading[0] != 0) + (reading[1] != 0);
      } else {
        std::string letters;
        append_non_ascii(letters, c);
        for (char letter : letters) *write++ = letter;
      }
    }
    out.resize(std::size_t(write - out.data()));
  });
}

std::string latin_letters(const CharSpan& text) {
  std::string out;
  append_latin_letters(text, out);
  return out;
}

}  // namespace kivo
