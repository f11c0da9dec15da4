// Phonetic keys of names, each over a text's Latin letters (upper case A to
// Z, see text/latin_letters.hpp): a name with no such letter has the empty
// key. Every key is upper case ASCII (Soundex's digits and Metaphone's '0'
// for "th" aside). The loops over a name poll the cancel flag
// (base/cancel.hpp), so a batch call stops inside a long one too.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "text/char_span.hpp"

namespace kivo::phonetic {

// Each key function appends the key of `letters` to `key`, so that many
// keys go into one buffer; key_of (below) makes a single name's.

// American Soundex: the first letter and three digits.
void soundex(std::string_view letters, std::string& key);
// The New York State Identification and Intelligence System code, untruncated.
void nysiis(std::string_view letters, std::string& key);
// Lawrence Philips' original Metaphone, untruncated.
void metaphone(std::string_view letters, std::string& key);
// Lawrence Philips' Double Metaphone, untruncated: the primary and the
// alternate key, which equals the primary for a name with one reading.
std::pair<std::string, std::string> double_metaphone(std::string_view letters);
// The Western Airlines match rating approach: the codex (at most six
// letters), and whether two codices match; nullopt when their lengths differ
// by three or more, which the approach does not compare.
void match_rating_codex(std::string_view letters, std::string& key);
std::optional<bool> match_rating_comparison(std::string_view codex_a, std::string_view codex_b);

// The key functions, as batch calls name them.
enum class Encoder { Soundex, Nysiis, Metaphone, DoubleMetaphone, MatchRatingCodex };

// A text's key; `alternate` is Double Metaphone's second key, empty for the others.
struct Key {
  std::string primary;
  std::string alternate;
};
Key encode(Encoder encoder, const CharSpan& text);
// The text's key appended to `keys` (Double Metaphone's primary, then its
// alternate), its Latin letters read into `letters`, a buffer the caller
// reuses. Returns where the alternate starts in `keys`: its end for the others.
std::size_t encode_into(Encoder encoder, const CharSpan& text, std::string& letters,
                        std::string& keys);

// One name's key as a string, from any of the appending forms above.
template <void (*Append)(std::string_view, std::string&)>
std::string key_of(std::string_view letters) {
  std::string key;
  Append(letters, key);
  return key;
}

}  // namespace kivo::phonetic
