#include <string>
#include <vector>

#include "harness.hpp"
#include "text/tokenizer.hpp"

using namespace kivo;
using Terms = std::vector<std::string>;

TEST(tokenizer_splits_at_whitespace_and_ascii_punctuation) {
  CHECK_EQ(tokenize_terms("Hello, World! It's"), (Terms{"hello", "world", "it", "s"}));
  CHECK_EQ(tokenize_terms("a--b  c"), (Terms{"a", "b", "c"}));
  CHECK_EQ(tokenize_terms("x\u00a0y\u3000z\u2029w\u0085v"), (Terms{"x", "y", "z", "w", "v"}));
  CHECK_EQ(tokenize_terms("!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~"), Terms{});
}

TEST(tokenizer_drops_empty_pieces) {
  CHECK_EQ(tokenize_terms(""), Terms{});
  CHECK_EQ(tokenize_terms("!?"), Terms{});
  CHECK_EQ(tokenize_terms(" \t\n\u2003"), Terms{});
  CHECK_EQ(tokenize_terms("..a.."), Terms{"a"});
}

TEST(tokenizer_keeps_non_ascii_punctuation_and_controls_inside_terms) {
  CHECK_EQ(tokenize_terms("3.14 na\u00efve \u00abcaf\u00e9\u00bb"),
           (Terms{"3", "14", "na\u00efve", "\u00abcaf\u00e9\u00bb"}));
  CHECK_EQ(tokenize_terms("don\u2019t stop\u2026"), (Terms{"don\u2019t", "stop\u2026"}));
  CHECK_EQ(tokenize_terms("a\u200bb c\x7f"
                          "d e\u0080f"),
           (Terms{"a\u200bb",
                  "c\x7f"
                  "d",
                  "e\u0080f"}));
  CHECK_EQ(tokenize_terms("\x01x\x1f"), Terms{"\x01x\x1f"});
}

TEST(tokenizer_keeps_repeats_and_stopwords) {
  CHECK_EQ(tokenize_terms("the the"), (Terms{"the", "the"}));
}

TEST(tokenizer_lowercases_each_term_fully) {
  CHECK_EQ(tokenize_terms("\u00c9COLE \u0130"), (Terms{"\u00e9cole", "i\u0307"}));
  CHECK_EQ(tokenize_terms("\U00010400x"), Terms{"\U00010428x"});  // Deseret, astral
}

TEST(tokenizer_final_sigma_sees_only_its_own_term) {
  CHECK_EQ(tokenize_terms("\u039f\u0394\u039f\u03a3."), Terms{"\u03bf\u03b4\u03bf\u03c2"});
  // In the whole text the sigma is followed by a letter; in its term it is last.
  CHECK_EQ(tokenize_terms("\u039f\u03a3-\u0391"), (Terms{"\u03bf\u03c2", "\u03b1"}));
  // The apostrophe splits, so the sigma has no cased letter before it.
  CHECK_EQ(tokenize_terms("A'\u03a3"), (Terms{"a", "\u03c3"}));
}
