"""Jaro-Winkler similarity: greedy matching from a's side plus the prefix bonus."""

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kivo
import models
from strategies import ALPHABET, texts


def winkler(jaro, prefix):
    return (1.0 - jaro) * (prefix * 0.1) + jaro


@pytest.mark.parametrize(
    "a, b, expected",
    [
        ("", "", 1.0),
        ("", "abc", 0.0),
        ("abc", "", 0.0),
        ("same", "same", 1.0),
        ("MARTHA", "MARHTA", 0.9611111111111111),
        ("DWAYNE", "DUANE", 0.8400000000000001),
        ("DIXON", "DICKSONX", 0.8133333333333332),
        ("abcd", "abce", 0.8833333333333334),
        ("ab", "ba", 0.0),
        ("abc", "xyz", 0.0),
        ("prefixes", "prefixed", 0.95),
        ("café", "cafe", 0.8833333333333334),
        ("a", "b", 0.0),
        # J = ((1/1 + 1/2) + 1/1) / 3, prefix 1.
        ("a", "ab", winkler(((1 / 1 + 1 / 2) + (1 - 0) / 1) / 3.0, 1)),
        # Only the first characters match: J is low, yet the bonus still applies.
        ("axxxxxxxxx", "ayyyyyyyyy", winkler(((1 / 10 + 1 / 10) + 1.0) / 3.0, 1)),
    ],
)
def test_known_values(a, b, expected):
    assert kivo.jaro_winkler_similarity(a, b) == expected


@pytest.mark.parametrize("n", [62, 63, 64, 65, 66, 127, 128, 129])
def test_lengths_around_word_boundaries(n):
    a = ("abcdé😀" * 30)[:n]
    for b in (a[::-1], a[1:] + "x", "x" + a[:-1], a.replace("é", "e")):
        assert kivo.jaro_winkler_similarity(a, b) == models.jaro_winkler(a, b)
        assert kivo.jaro_winkler_similarity(b, a) == models.jaro_winkler(b, a)


near_64 = st.text(ALPHABET, min_size=60, max_size=70)


@settings(max_examples=400, deadline=None)
@given(texts() | near_64, texts() | near_64)
def test_agrees_with_model(a, b):
    score = kivo.jaro_winkler_similarity(a, b)
    assert score == models.jaro_winkler(a, b)
    assert 0.0 <= score <= 1.0
    assert kivo.jaro_winkler_similarity(b, a) == models.jaro_winkler(b, a)
    assert kivo.jaro_winkler_similarity(a, a) == 1.0
