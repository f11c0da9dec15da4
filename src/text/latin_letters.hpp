// Texts of any script read as the 26 letters of the Latin alphabet, for the
// phonetic keys: a Latin letter with diacritics counts as its base letter
// (é as E, by its canonical decomposition), a few letters without one as the
// letters they stand for (ß as SS, æ as AE, ø as O), and every other
// character is skipped.
#pragma once

#include <string>

#include "text/char_span.hpp"

namespace kivo {

// The text's letters, upper case A to Z.
std::string latin_letters(const CharSpan& text);
// The same, appended to `out`: a caller reading many texts reuses one buffer.
void append_latin_letters(const CharSpan& text, std::string& out);

}  // namespace kivo
