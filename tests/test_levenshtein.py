"""Levenshtein distance and similarity over Unicode scalar values."""

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kivo
import models
from strategies import texts


@pytest.mark.parametrize(
    "a, b, distance, similarity",
    [
        ("", "", 0, 1.0),
        ("", "abc", 3, 0.0),
        ("saturday", "sunday", 3, 0.625),
        ("flaw", "lawn", 2, 0.5),
        ("café", "cafe", 1, 0.75),
        ("\u00e9", "e\u0301", 2, 0.0),
        ("Abc", "abc", 1, 1 - 1 / 3),
        ("kitten", "sitting", 3, 1 - 3 / 7),
        ("日本語", "日本", 1, 1 - 1 / 3),
        ("😀a", "a😀", 2, 0.0),
        ("a" * 100, "a" * 100, 0, 1.0),
    ],
)
def test_known_values(a, b, distance, similarity):
    for x, y in ((a, b), (b, a)):
        assert kivo.levenshtein_distance(x, y) == distance
        assert kivo.levenshtein_similarity(x, y) == similarity


@pytest.mark.parametrize("n", [1, 31, 32, 33, 63, 64, 65, 127, 128, 129, 300])
def test_lengths_around_word_boundaries(n):
    a = "ab" * n
    b = ("ba" * n)[: 2 * n - 1] + "é"
    assert kivo.levenshtein_distance(a, b) == models.levenshtein_distance(a, b)
    c = "é" * n
    assert kivo.levenshtein_distance(c, "e" * n) == n
    assert kivo.levenshtein_distance(c, c[:-1] + "x") == 1


@settings(max_examples=300, deadline=None)
@given(texts(), texts())
def test_agrees_with_model(a, b):
    assert kivo.levenshtein_distance(a, b) == models.levenshtein_distance(a, b)
    assert kivo.levenshtein_similarity(a, b) == models.levenshtein_similarity(a, b)


@settings(max_examples=200, deadline=None)
@given(texts(), texts(), texts())
def test_metric_properties(a, b, c):
    d = kivo.levenshtein_distance
    assert d(a, b) == d(b, a)
    assert (d(a, b) == 0) == (a == b)
    assert d(a, c) <= d(a, b) + d(b, c)
    assert abs(len(a) - len(b)) <= d(a, b) <= max(len(a), len(b))
    assert 0.0 <= kivo.levenshtein_similarity(a, b) <= 1.0


@settings(max_examples=100, deadline=None)
@given(st.text(max_size=20), st.text(max_size=80), st.text(max_size=20))
def test_shared_prefix_and_suffix_do_not_change_distance(prefix, middle, suffix):
    other = middle[::-1]
    expected = models.levenshtein_distance(middle, other)
    assert kivo.levenshtein_distance(prefix + middle + suffix, prefix + other + suffix) == expected
