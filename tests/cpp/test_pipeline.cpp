#include <unicode/bytestream.h>
#include <unicode/casemap.h>
#include <unicode/normalizer2.h>

#include <random>
#include <string>
#include <vector>

#include "harness.hpp"
#include "text/char_class.hpp"
#include "text/code_points.hpp"
#include "text/pipeline.hpp"
#include "text/unicode.hpp"
#include "text/utf8.hpp"

using namespace kivo;

namespace {

std::string encode(char32_t c) {
  std::string out;
  utf8::append(out, c);
  return out;
}

bool is_scalar(char32_t c) {
  return c < 0xD800 || (c > 0xDFFF && c <= 0x10FFFF);
}

// ICU's own full lowercasing of a whole UTF-8 text, root locale.
std::string icu_lower(const std::string& text) {
  std::string out;
  icu::StringByteSink<std::string> sink(&out);
  UErrorCode code = U_ZERO_ERROR;
  icu::CaseMap::utf8ToLower("", 0, text, sink, nullptr, code);
  return U_SUCCESS(code) ? out : "<ICU failure>";
}

std::string lower(std::string_view text) {
  std::string out;
  unicode::append_lowercase(out, text);
  return out;
}

}  // namespace

TEST(whitespace_length_agrees_with_the_class_for_every_character) {
  bool ok = true;
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    if (!is_scalar(c)) continue;
    std::string bytes = encode(c) + "x";
    std::size_t expected = is_whitespace(c) ? bytes.size() - 1 : 0;
    if (whitespace_length(bytes, 0) != expected) ok = false;
    for (std::size_t i = 1; i + 1 < bytes.size(); ++i)  // continuation bytes
      if (whitespace_length(bytes, i) != 0) ok = false;
  }
  CHECK(ok);
  int count = 0;
  for (char32_t c = 0; c <= 0x10FFFF; ++c) count += is_whitespace(c);
  CHECK_EQ(count, 25);
}

TEST(lowercase_matches_icu_for_every_single_character) {
  // Guards the shortcut that only U+0130 and the capital sigma need more than
  // the simple mapping.
  bool ok = true;
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    if (!is_scalar(c)) continue;
    std::string text = encode(c);
    if (lower(text) != icu_lower(text)) {
      std::fprintf(stderr, "lowercase differs for U+%04X\n", unsigned(c));
      ok = false;
    }
  }
  CHECK(ok);
}

TEST(lowercase_final_sigma_matches_icu_on_random_contexts) {
  // Cased, case-ignorable, both, and neither.
  const char32_t alphabet[] = {0x3A3, 'A',  'b',   ' ',   '.',   '\'',    '1',    0x345, 0x2B0,
                               0x301, 0xAD, 0x1C5, 0x130, 0x3A3, 0x10400, 0x200B, 0x3A3};
  std::mt19937 rng(12345);
  bool ok = true;
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    int length = int(rng() % 8);
    for (int i = 0; i < length; ++i) utf8::append(text, alphabet[rng() % std::size(alphabet)]);
    if (lower(text) != icu_lower(text)) ok = false;
  }
  CHECK(ok);
  CHECK_EQ(lower("\u039f\u0394\u039f\u03a3"), "\u03bf\u03b4\u03bf\u03c2");
  CHECK_EQ(lower("\u03a3\u0391"), "\u03c3\u03b1");
  CHECK_EQ(lower("A\u03a3'."), "a\u03c2'.");
  CHECK_EQ(lower("A\u03a3'b"), "a\u03c3'b");
}

TEST(nfc_in_pieces_equals_nfc_in_one_go) {
  std::string text;
  const char* parts[] = {"e\u0301",
                         "\u1100\u1161\u11a8",
                         "a\u0302\u0323",
                         "\u212b",
                         "\u0301\u0301\u0301",
                         "x",
                         "\U000105D2\u0307",
                         " ",
                         "\u1161\u1161"};
  std::mt19937 rng(7);
  for (int i = 0; i < 400; ++i) text += parts[rng() % std::size(parts)];
  std::string whole = unicode::to_nfc(text);
  bool ok = true;
  for (std::size_t chunk = 1; chunk < 40; ++chunk)
    if (unicode::to_nfc(text, chunk) != whole) ok = false;
  CHECK(ok);
  // No boundary anywhere: the pieces cannot be cut, and still come out right.
  std::string marks = "a";
  for (int i = 0; i < 50; ++i) marks += "\u0323\u0301";
  CHECK_EQ(unicode::to_nfc(marks, 8), unicode::to_nfc(marks));
}

TEST(nfc_by_sorting_marks_matches_icu) {
  // Starters, marks of several classes, Hangul jamo and syllables, singletons,
  // exclusions, and characters that decompose into marks.
  const char32_t alphabet[] = {
      'a',    'e',    'A',    0x301,   0x323,  0x302, 0x308, 0x328,   0x334,   0x345, 0x3B1, 0x3A9,
      0x1100, 0x1161, 0x11A8, 0xAC00,  0x212B, 0x958, 0x93C, 0x344,   0x340,   0xF73, 0xF71, 0xF72,
      0xF80,  0x1E0A, 0xC5,   0x105D2, 0x307,  0xB47, 0xB3E, 0x1D15E, 0x1D165, 0x0};
  std::mt19937 rng(2024);
  bool ok = true;
  for (int round = 0; round < 30000; ++round) {
    std::string text;
    int length = int(rng() % 10);
    for (int i = 0; i < length; ++i) utf8::append(text, alphabet[rng() % std::size(alphabet)]);
    std::string expected = unicode::to_nfc(text);  // short runs: ICU's path
    if (unicode::to_nfc_sorting_marks(text) != expected) {
      std::fprintf(stderr, "NFC differs for:");
      for (char32_t c : CodePoints(text).view()) std::fprintf(stderr, " U+%04X", unsigned(c));
      std::fprintf(stderr, "\n");
      ok = false;
    }
  }
  CHECK(ok);
}

TEST(quick_boundary_ranges_really_have_boundaries) {
  // The long-run check skips these ranges by lead byte alone.
  CHECK_EQ(unicode::to_nfc_sorting_marks("x"), "x");  // instance ready
  UErrorCode code = U_ZERO_ERROR;
  const icu::Normalizer2* n = icu::Normalizer2::getNFCInstance(code);
  bool ok = U_SUCCESS(code);
  for (UChar32 c = 0; c < 0x300 && ok; ++c) ok = n->hasBoundaryBefore(c);
  for (UChar32 c = 0x4000; c < 0xA000 && ok; ++c) ok = n->hasBoundaryBefore(c);
  CHECK(ok);
}

TEST(a_custom_stopword_list_replaces_the_built_in_one_once_it_has_an_entry) {
  PreprocessConfig c;
  c.remove_stopwords = true;
  CHECK_EQ(preprocess_text("the cat", c), "cat");
  c.stopwords = StopwordList({""});  // an empty entry counts, and never matches
  CHECK_EQ(preprocess_text("the cat", c), "the cat");
  c.stopwords = StopwordList({"cat", "cat", "The"});
  PreprocessConfig copy = c;
  CHECK_EQ(preprocess_text("The cat", copy), "the");
  c.stopwords = StopwordList(std::vector<std::string>{});
  CHECK_EQ(preprocess_text("the cat", c), "cat");
}
