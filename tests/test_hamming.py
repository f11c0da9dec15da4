"""Hamming distance and similarity over character positions."""

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kivo
import models
from strategies import ALPHABET, texts


@pytest.mark.parametrize(
    "a, b, distance, similarity",
    [
        ("", "", 0, 1.0),
        ("karolin", "kathrin", 3, 1 - 3 / 7),
        ("same text", "same text", 0, 1.0),
        ("café", "cafe", 1, 0.75),
        ("A", "a", 1, 0.0),
        ("é", "e", 1, 0.0),
        ("😀x", "😁x", 1, 0.5),
        ("日本語", "日本人", 1, 1 - 1 / 3),
        ("abcde", "edcba", 4, 1 - 4 / 5),
    ],
)
def test_known_values(a, b, distance, similarity):
    for x, y in ((a, b), (b, a)):
        assert kivo.hamming_distance(x, y) == distance
        assert kivo.hamming_similarity(x, y) == similarity


@pytest.mark.parametrize(
    "a, b",
    [
        ("abc", "ab"),
        ("", "a"),
        # Equal byte lengths, different character counts.
        ("é", "ab"),
        ("😀", "abcd"),
        # A combining mark is a character of its own.
        ("\u00e9", "e\u0301"),
    ],
)
@pytest.mark.parametrize("function", [kivo.hamming_distance, kivo.hamming_similarity])
def test_different_character_counts_raise(function, a, b):
    for x, y in ((a, b), (b, a)):
        with pytest.raises(ValueError, match=r"^Strings must have equal length$"):
            function(x, y)


@pytest.mark.parametrize("n", [1, 3, 4, 5, 7, 8, 9, 63, 64, 65, 1000])
def test_lengths_around_block_boundaries(n):
    a = "ab" * n
    b = a[:-1] + "é"
    assert kivo.hamming_distance(a, b) == 1
    assert kivo.hamming_distance(a, a[::-1]) == models.hamming_distance(a, a[::-1])
    c = "é😀" * n
    assert kivo.hamming_distance(c, "e😀" * n) == n
    assert kivo.hamming_similarity(c, "é😁" * n) == 0.5


equal_length_pairs = st.integers(0, 70).flatmap(
    lambda n: st.tuples(st.text(ALPHABET, min_size=n, max_size=n), st.text(min_size=n, max_size=n))
)


@settings(max_examples=300, deadline=None)
@given(equal_length_pairs | st.tuples(texts(), texts()))
def test_agrees_with_model(pair):
    a, b = pair
    if len(a) != len(b):
        with pytest.raises(ValueError):
            kivo.hamming_distance(a, b)
        return
    for x, y in ((a, b), (b, a), (a, a)):
        assert kivo.hamming_distance(x, y) == models.hamming_distance(x, y)
        assert kivo.hamming_similarity(x, y) == models.hamming_similarity(x, y)
    assert 0.0 <= kivo.hamming_similarity(a, b) <= 1.0
