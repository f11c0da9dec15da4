#include "algo/phonetic/phonetic.hpp"
#include "text/latin_letters.hpp"

namespace kivo::phonetic {

std::size_t encode_into(Encoder encoder, const CharSpan& text, std::string& letters,
                        std::string& keys) {
  letters.clear();
  append_latin_letters(text, letters);
  switch (encoder) {
    case Encoder::Soundex: soundex(letters, keys); break;
    case Encoder::Nysiis: nysiis(letters, keys); break;
    case Encoder::Metaphone: metaphone(letters, keys); break;
    case Encoder::DoubleMetaphone: {
      auto [primary, alternate] = double_metaphone(letters);
      keys += primary;
      std::size_t split = keys.size();
      keys += alternate;
      return split;
    }
    case Encoder::MatchRatingCodex: match_rating_codex(letters, keys); break;
  }
  return keys.size();
}

Key encode(Encoder encoder, const CharSpan& text) {
  std::string letters, keys;
  std::size_t split = encode_into(encoder, text, letters, keys);
  return {keys.substr(0, split), keys.substr(split)};
}

}  // namespace kivo::phonetic
