"""Jaro-Winkler similarity: greedy matching from a's side plus the prefix bonus."""

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kivo
import models
from strategies import ALPHABET, texts


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
    ],
)
def test_known_values(a, b, expected):
    assert kivo.jaro_winkler_similarity(a, b) == expected


def test_one_char_against_two_follows_the_formula():
    # J = ((1/1 + 1/2) + 1/1) / 3 = 5/6, prefix 1.
    j = ((1 / 1 + 1 / 2) + (1 - 0) / 1) / 3.0
    assert kivo.jaro_winkler_similarity("a", "ab") == (1.0 - j) * (1 * 0.1) + j


def test_prefix_bonus_applies_at_low_jaro_values():
    # Only the first characters match: J is low, yet the bonus still applies.
    a, b = "axxxxxxxxx", "ayyyyyyyyy"
    j = ((1 / 10 + 1 / 10) + 1.0) / 3.0
    assert kivo.jaro_winkler_similarity(a, b) == (1.0 - j) * 0.1 + j


@pytest.mark.parametrize("n", [62, 63, 64, 65, 66, 127, 128, 129])
def test_lengths_around_word_boundaries(n):
    a = ("abcdé😀" * 30)[:n]
    for b in (a[::-1], a[1:] + "x", "x" + a[:-1], a.replace("é", "e")):
        assert kivo.jaro_winkler_similarity(a, b) == models.jaro_winkler(a, b)
        assert kivo.jaro_winkler_similarity(b, a) == models.jaro_winkler(b, a)


@settings(max_examples=400, deadline=None)
@given(texts(), texts())
def test_agrees_with_model(a, b):
    assert kivo.jaro_winkler_similarity(a, b) == models.jaro_winkler(a, b)
    assert kivo.jaro_winkler_similarity(b, a) == models.jaro_winkler(b, a)


@settings(max_examples=100, deadline=None)
@given(st.text(ALPHABET, min_size=63, max_size=65), st.text(ALPHABET, min_size=60, max_size=70))
def test_agrees_with_model_near_64_characters(a, b):
    assert kivo.jaro_winkler_similarity(a, b) == models.jaro_winkler(a, b)


@settings(max_examples=200, deadline=None)
@given(texts())
def test_range_symmetry_and_identity(a):
    assert kivo.jaro_winkler_similarity(a, a) == 1.0
    b = a[::-1] + "z"
    score = kivo.jaro_winkler_similarity(a, b)
    assert 0.0 <= score <= 1.0
    assert kivo.jaro_winkler_similarity(b, a) == score
