"""Character shingles, word sets and the Jaccard index of two sets."""

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kivo
import models
from strategies import ALPHABET, texts

HUGE = [2**32, 2**63, 2**64 - 1]


@pytest.mark.parametrize(
    "a, b, n, expected",
    [
        ("night", "nacht", 2, 1 / 7),
        ("abc", "abc", 0, 1.0),
        ("", "", 0, 1.0),
        ("", "", 5, 1.0),
        ("", "abc", 1, 0.0),
        ("aaaa", "aa", 2, 1.0),
        # Characters, not bytes: 'héllo' has the bigrams hé, él, ll, lo.
        ("héllo", "hélo", 2, 3 / 4),
        ("héllo", "hello", 2, 2 / 6),
        ("ab", "abc", 3, 0.0),
        ("ab", "ac", 3, 0.0),
        ("abc", "abcd", 3, 1 / 2),
        ("😀😁😂", "😀😁", 2, 1 / 2),
        ("\u00e9", "e\u0301", 1, 0.0),
    ],
)
def test_known_values(a, b, n, expected):
    assert kivo.jaccard_similarity(a, b, n) == expected
    assert kivo.jaccard_similarity(b, a, n) == expected


@pytest.mark.parametrize(
    "function, a, b, expected",
    [
        (kivo.jaccard_bigram_similarity, "Hello", "hello", 3 / 5),
        (kivo.jaccard_bigram_similarity, "night", "nacht", 1 / 7),
        (kivo.jaccard_trigram_similarity, "abcde", "abcdf", 2 / 4),
        (kivo.jaccard_trigram_similarity, "ab", "ab", 1.0),
        (kivo.jaccard_word_similarity, "", "   ", 1.0),
        (kivo.jaccard_word_similarity, "", "", 1.0),
        (kivo.jaccard_word_similarity, "a", "", 0.0),
        (kivo.jaccard_word_similarity, "the cat", "cat the the", 1.0),
        (kivo.jaccard_word_similarity, "Hello, world", "hello world", 1 / 3),
        (kivo.jaccard_word_similarity, "a\u00a0b", "a b", 1.0),
        (kivo.jaccard_word_similarity, "a\u3000b", "b\ta", 1.0),
        (kivo.jaccard_word_similarity, "a\u200bb", "a b", 0.0),
        (kivo.jaccard_word_similarity, "  a \n\r\x0b\x0c b  ", "a b", 1.0),
        (kivo.jaccard_word_similarity, "a\x1cb", "a b", 0.0),
        (kivo.jaccard_word_similarity, "x y z", "x y w", 2 / 4),
    ],
)
def test_fixed_width_and_word_variants(function, a, b, expected):
    assert function(a, b) == expected
    assert function(b, a) == expected


@pytest.mark.parametrize("a, b", [("abc", "abd"), ("", "a"), ("a", "")])
def test_window_size_zero_panics_for_different_texts(a, b):
    with pytest.raises(kivo.PanicException, match=r"^window size must be non-zero$"):
        kivo.jaccard_similarity(a, b, 0)
    assert not issubclass(kivo.PanicException, Exception)


@pytest.mark.parametrize("n", [1, 2, *HUGE])
def test_hostile_window_sizes(n):
    # A window wider than the text makes the whole text the only shingle.
    assert kivo.jaccard_similarity("abc", "abd", n) == models.jaccard("abc", "abd", n)
    assert kivo.jaccard_similarity("é😀", "é😀", n) == 1.0


@pytest.mark.parametrize("length", [62, 63, 64, 65, 66])
@pytest.mark.parametrize("n", [1, 2, 3, 63, 64, 65])
def test_lengths_around_64_characters(length, n):
    a = ("ab😀cé" * 20)[:length]
    b = ("bé😀ac" * 20)[:length]
    assert kivo.jaccard_similarity(a, b, n) == models.jaccard(a, b, n)


@settings(max_examples=300, deadline=None)
@given(texts(), texts(), st.integers(0, 6))
def test_agrees_with_model(a, b, n):
    if n == 0 and a != b:
        with pytest.raises(kivo.PanicException):
            kivo.jaccard_similarity(a, b, n)
        return
    expected = models.jaccard(a, b, n)
    assert kivo.jaccard_similarity(a, b, n) == expected
    assert kivo.jaccard_similarity(b, a, n) == expected
    assert 0.0 <= expected <= 1.0


@settings(max_examples=300, deadline=None)
@given(texts(), texts())
def test_words_agree_with_model(a, b):
    expected = models.jaccard_words(a, b)
    assert kivo.jaccard_word_similarity(a, b) == expected
    assert kivo.jaccard_word_similarity(b, a) == expected


whitespace = st.sampled_from(sorted(models.WHITESPACE))
non_space = ALPHABET.filter(lambda c: c not in models.WHITESPACE)


@settings(max_examples=100, deadline=None)
@given(st.lists(st.text(non_space, min_size=1)), whitespace)
def test_any_whitespace_separates_words(words, separator):
    joined = separator.join(words)
    assert kivo.jaccard_word_similarity(joined, " ".join(reversed(words))) == 1.0
