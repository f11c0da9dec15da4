// The phonetic keys at the edges the rules read past: every name of up to
// three letters (run under the sanitizers, any read beyond the name shows),
// and the Latin reading of texts in every code-unit width.
#include <cstdint>
#include <string>
#include <vector>

#include "algo/phonetic/phonetic.hpp"
#include "harness.hpp"
#include "text/latin_letters.hpp"

using namespace kivo;

TEST(every_short_name_has_keys_of_the_key_alphabet) {
  std::vector<std::string> names{""};
  for (std::size_t length = 1; length <= 3; ++length) {
    std::vector<std::string> longer;
    for (const std::string& name : names) {
      if (name.size() + 1 != length) continue;
      for (char c = 'A'; c <= 'Z'; ++c) longer.push_back(name + c);
    }
    names.insert(names.end(), longer.begin(), longer.end());
  }
  auto in_alphabet = [](const std::string& key) {
    for (char c : key) {
      if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
    }
    return true;
  };
  for (const std::string& name : names) {
    std::string soundex = phonetic::key_of<phonetic::soundex>(name);
    CHECK(name.empty() ? soundex.empty() : soundex.size() == 4 && soundex[0] == name[0]);
    CHECK(in_alphabet(phonetic::key_of<phonetic::nysiis>(name)));
    CHECK(in_alphabet(phonetic::key_of<phonetic::metaphone>(name)));
    auto [primary, alternate] = phonetic::double_metaphone(name);
    CHECK(in_alphabet(primary) && in_alphabet(alternate));
    std::string codex = phonetic::key_of<phonetic::match_rating_codex>(name);
    CHECK(codex.size() <= 6 && in_alphabet(codex));
    CHECK(phonetic::match_rating_comparison(codex, codex) != std::optional<bool>(false));
  }
}

TEST(texts_of_every_width_read_as_their_latin_letters) {
  std::u32string wide = U"Stra\u00DFe \u00C9ric-\u0141\u00F3d\u017A \u0418 \U0001F600 \u212A9";
  std::u16string narrow;
  for (char32_t c : wide) {
    if (c <= 0xFFFF) narrow += char16_t(c);
  }
  std::string ascii = "o'Brien 3";
  CHECK_EQ(latin_letters({wide.data(), wide.size(), 4}), std::string("STRASSEERICLODZK"));
  CHECK_EQ(latin_letters({narrow.data(), narrow.size(), 2}), std::string("STRASSEERICLODZK"));
  CHECK_EQ(latin_letters({ascii.data(), ascii.size(), 1}), std::string("OBRIEN"));
  CHECK_EQ(phonetic::encode(phonetic::Encoder::Soundex, {wide.data(), wide.size(), 4}).primary,
           std::string("S362"));
  // Many texts share one buffer of letters and one of keys.
  std::string letters = "XY", keys = "S362";
  append_latin_letters({ascii.data(), ascii.size(), 1}, letters);
  CHECK_EQ(letters, std::string("XYOBRIEN"));
  CHECK_EQ(phonetic::encode_into(phonetic::Encoder::DoubleMetaphone,
                                 {ascii.data(), ascii.size(), 1}, letters, keys),
           std::size_t(8));
  CHECK_EQ(keys, std::string("S362APRNAPRN"));
  CHECK_EQ(phonetic::encode_into(phonetic::Encoder::Nysiis, {ascii.data(), ascii.size(), 1},
                                 letters, keys),
           keys.size());
  CHECK_EQ(keys.substr(12), phonetic::key_of<phonetic::nysiis>("OBRIEN"));
}
