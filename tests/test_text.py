"""The cleaning pipeline: clean_text, clean_text_stopwords and Preprocessor."""

import unicodedata

import pytest

import kivo
import models

P = kivo.Preprocessor()
REMOVING = P.with_remove_stopwords(True)
CLEAN, STOP = kivo.clean_text, kivo.clean_text_stopwords


@pytest.mark.parametrize(
    "clean, text, expected",
    [
        (CLEAN, "e\u0301", "\u00e9"),
        (CLEAN, "\u212b", "\u00e5"),  # angstrom sign: NFC to U+00C5, then lowercase
        (CLEAN, "\ufb01\u2460\uff21", "\ufb01\u2460\uff41"),  # no compatibility mappings
        (CLEAN, "\u1100\u1161\u11a8", "\uac01"),  # Hangul jamo compose
        (CLEAN, "a\u0302\u0323", "\u1ead"),  # marks reorder by class, then compose
        (CLEAN, "x\u0301\u0301", "x\u0301\u0301"),
        (CLEAN, "\U000105d2\u0307", "\U000105c9"),  # a pair new in Unicode 16
        (CLEAN, "Cafe\u0301 E\u0301", "caf\u00e9 \u00e9"),
        (CLEAN, "ΟΔΟΣ", "οδος"[:-1] + "\u03c2"),
        (CLEAN, "ΣΑ Σ", "\u03c3\u03b1 \u03c3"),  # no cased letter after it, or none before
        (CLEAN, "ΑΣ.", "\u03b1\u03c2."),
        (CLEAN, "ΑΣ'Β", "\u03b1\u03c3'\u03b2"),  # a case-ignorable apostrophe is skipped
        (CLEAN, "ΑΣ Β", "\u03b1\u03c2 \u03b2"),
        (CLEAN, "İSTANBUL", "i\u0307stanbul"),  # no Turkish tailoring
        (CLEAN, "T\u0308", "t\u0308"),  # the lowercase result is not normalised again
        (CLEAN, "\U00010400ÀÉ ǅ", "\U00010428àé ǆ"),
        (CLEAN, "  Hello,\tWORLD!\n", "hello, world!"),
        (CLEAN, " \t\n", ""),
        (CLEAN, "\u00a0\u2003x\u3000", "x"),
        (CLEAN, "a\u200bb\x80\x84\u180e", "a\u200bb\x80\x84\u180e"),  # not whitespace
        (CLEAN, "a \u2028\u2029\x85\x0b\x0c\r b", "a b"),
        (CLEAN, "\u00c9\x00\x00\u00c9", "\u00e9\x00\x00\u00e9"),
        (STOP, "The cat and THE hat", "cat hat"),
        (STOP, "the, cat", "the, cat"),  # the token carries its comma
        (STOP, "the and of", ""),
        (STOP, "don't stop", "don't stop"),
        (STOP, " \t\n", ""),
        (STOP, "  cat\t\tsat  ", "cat sat"),
        (STOP, "s t I A thee th dont cannot the-end", "s t thee th dont cannot the-end"),
    ],
)
def test_fixed_cleaners(clean, text, expected):
    assert clean(text) == expected


@pytest.mark.parametrize(
    "text",
    ["a" + "\u0301\u0323" * 100, "\u0f73" * 100, "\u1100" + "\u1161" * 100,
     "x" + "\u0f75\u0f81" * 80 + "\u1100\u1161\u11a8" + "\u0345\u0301" * 80],
)
def test_long_runs_of_marks_normalise_like_short_ones(text):
    assert kivo.clean_text(text) == unicodedata.normalize("NFC", text).lower()


def test_huge_run_of_marks_is_reordered_without_quadratic_cost():
    # Insertion-sorting a million marks would not finish in any test run.
    n = 500_000
    assert kivo.clean_text("a" + "\u0301\u0323" * n) == "\u1ea1" + "\u0323" * (n - 1) + "\u0301" * n


def test_every_whitespace_character_and_stopword():
    for ws in models.WHITESPACE:
        assert kivo.clean_text(f"{ws}a{ws}{ws}b{ws}") == "a b"
        assert kivo.clean_text_stopwords(f"{ws}the{ws}cat{ws}") == "cat"
    assert len(models.DEFAULT_STOPWORDS) == 183
    for word in models.DEFAULT_STOPWORDS:
        assert kivo.clean_text_stopwords(f"x {word.upper()} y") == "x y", word


@pytest.mark.parametrize(
    "p, text, expected",
    [
        (P.with_stopwords(["cat"]), "the cat", "the cat"),  # removal is still off
        (REMOVING.with_stopwords(["cat"]), "the cat", "the"),  # replaces the default list
        (P.with_stopwords(["cat"]).with_remove_stopwords(True), "the cat", "the"),
        (REMOVING.with_stopwords([]), "the cat", "cat"),  # falls back to the default list
        (REMOVING.with_stopwords(["The"]), "The cat", "the cat"),  # entries are not lowercased
        (REMOVING.with_stopwords(("a", "b")), "a b c", "c"),
        (REMOVING.with_stopwords(["", "x", "x"]), "x  y", "y"),
        (REMOVING.with_stopwords(["caf\u00e9"]), "CAFE\u0301 bar", "bar"),
        (REMOVING.with_stopwords(["caf\xe9"]).with_normalize_unicode(False), "cafe\u0301", "cafe\u0301"),
        # Removal joins with single spaces whatever collapse and trim say.
        (REMOVING.with_collapse_whitespace(False).with_trim(False), " the\tcat\n\nsat ", "cat sat"),
        (P.with_normalize_unicode(False), "E\u0301 \u0130\u0323", "e\u0301 i\u0307\u0323"),
        (P.with_collapse_whitespace(False), " a \t b ", "a \t b"),
        (P.with_lowercase(False).with_trim(True).with_trim(False), " A\tB ", " A B "),  # the last wins
        (P.with_max_length(5), "Hello World", "hello"),
        (P.with_max_length(6), "hello world", "hello "),  # the cut is not trimmed again
        (P.with_max_length(5).with_max_length(0), "Hello World", "hello world"),
        (P.with_max_length(2), "h\u00e9llo", "h"),  # inside a character: back to its start
        (P.with_max_length(3), "h\u00e9llo", "h\u00e9"),
        (P.with_max_length(2**64 - 1), "abc", "abc"),
        (REMOVING.with_max_length(7), "the cat and the hat", "cat hat"),  # bound applied last
    ],
)
def test_preprocessor_settings(p, text, expected):
    assert p.process(text) == expected


@pytest.mark.parametrize(
    "p, expected",
    [
        (P, "lowercase=true, stopwords=false"),
        (P.with_lowercase(False).with_remove_stopwords(True), "lowercase=false, stopwords=true"),
        (P.with_stopwords(["x"]).with_max_length(3), "lowercase=true, stopwords=false"),
    ],
)
def test_preprocessor_repr_shows_the_lowercase_and_removal_switches(p, expected):
    assert repr(p) == str(p) == f"Preprocessor({expected})"


@pytest.mark.parametrize(
    "change",
    [lambda p: p.with_trim(False), lambda p: p.with_trim(True), lambda p: p.with_stopwords(["sat"]),
     lambda p: p.with_stopwords(["ok", 1]), lambda p: p.with_stopwords("cat"),
     lambda p: p.with_max_length(-1), lambda p: p.with_lowercase(1), lambda p: p.process(b"x")],
)
def test_preprocessor_is_immutable(change):
    words = ["cat"]
    p = REMOVING.with_stopwords(words)
    words[0] = "sat"  # the list was copied
    try:
        q = change(p)
        assert type(q) is kivo.Preprocessor and q is not p
    except (TypeError, OverflowError):
        pass
    assert p.process(" The  cat SAT ") == "the sat"
