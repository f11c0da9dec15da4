"""SimHash fingerprints over the shingle list and their share of equal bits."""

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kivo
import models
from strategies import texts

HUGE = [2**32, 2**63, 2**64 - 1]


@pytest.mark.parametrize(
    "text, size, expected",
    [
        # Shorter than the window: the fingerprint is the FNV-1a hash itself.
        ("abc", 4, 16654208175385433931),
        ("", 4, 14695981039346656037),
        ("", 1, 0xCBF29CE484222325),
        # Two shingles tie wherever their hashes differ; ties give 0.
        ("abcd", 3, 8763215064401474),
        ("abcd", 3, models.fnv1a64("abc") & models.fnv1a64("bcd")),
        # Repeats weigh: ab, ba, ab.
        ("abab", 2, models.fnv1a64("ab")),
        ("é😀", 3, models.fnv1a64("é😀")),
    ],
)
def test_known_fingerprints(text, size, expected):
    assert kivo.simhash_fingerprint(text, size) == expected


def test_default_functions_use_four_character_shingles():
    assert kivo.simhash_fingerprint_default("hello world") == 5375315141837979940
    assert kivo.simhash_similarity_default("hello world", "hello there") == 0.71875
    assert kivo.simhash_similarity("hello world", "hello there", 4) == 0.71875
    assert kivo.simhash_fingerprint("hello world", 4) == 5375315141837979940


@pytest.mark.parametrize("a, b", [("abc", "abc"), ("", ""), ("abc", "abd")])
def test_shingle_size_zero_panics_even_for_equal_texts(a, b):
    with pytest.raises(kivo.PanicException, match=r"^window size must be non-zero$"):
        kivo.simhash_fingerprint(a, 0)
    with pytest.raises(kivo.PanicException, match=r"^window size must be non-zero$"):
        kivo.simhash_similarity(a, b, 0)


@pytest.mark.parametrize("size", [1, 2, *HUGE])
def test_hostile_shingle_sizes(size):
    expected = models.simhash_fingerprint("é😀 text", size)
    assert kivo.simhash_fingerprint("é😀 text", size) == expected
    assert kivo.simhash_similarity("é😀 text", "é😀 text", size) == 1.0


@pytest.mark.parametrize("length", [63, 64, 65])
def test_lengths_around_64_characters(length):
    text = ("ab😀cé日" * 20)[:length]
    for size in (1, 4, 63, 64, 65):
        assert kivo.simhash_fingerprint(text, size) == models.simhash_fingerprint(text, size)


@settings(max_examples=200, deadline=None)
@given(texts(), st.integers(1, 6))
def test_fingerprint_agrees_with_model(text, size):
    assert kivo.simhash_fingerprint(text, size) == models.simhash_fingerprint(text, size)


@settings(max_examples=200, deadline=None)
@given(texts(), texts(), st.integers(1, 6))
def test_similarity_agrees_with_model(a, b, size):
    score = kivo.simhash_similarity(a, b, size)
    assert score == models.simhash_similarity(a, b, size)
    assert score == kivo.simhash_similarity(b, a, size)
    assert 0.0 <= score <= 1.0
    fa, fb = kivo.simhash_fingerprint(a, size), kivo.simhash_fingerprint(b, size)
    differing = bin(fa ^ fb).count("1")
    assert score == 1 - differing / 64
    assert kivo.simhash_similarity(a, a, size) == 1.0
