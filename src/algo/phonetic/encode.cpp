#include "algo/phonetic/phonetic.hpp"
#include "text/latin_letters.hpp"

namespace kivo::phonetic {

Key encode(Encoder encoder, const CharSpan& text) {
  std::string letters = latin_letters(text);
  switch (encoder) {
    case Encoder::Soundex: return {soundex(letters), {}};
    case Encoder::Nysiis: return {nysiis(letters), {}};
    case Encoder::Metaphone: return {metaphone(letters), {}};
    case Encoder::DoubleMetaphone: {
      auto [primary, alternate] = double_metaphone(letters);
      return {std::move(primary), std::move(alternate)};
    }
    case Encoder::MatchRatingCodex: return {match_rating_codex(letters), {}};
  }
  return {};
}

}  // namespace kivo::phonetic
