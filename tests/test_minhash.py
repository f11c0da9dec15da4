"""MinHash signatures and the share of equal entries between two of them."""

import math
import os

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kivo
import models
from strategies import texts

P = 2**61 - 1
HUGE = [2**32, 2**63, 2**64 - 1]


def physical_memory():
    return os.sysconf("SC_PHYS_PAGES") * os.sysconf("SC_PAGE_SIZE")


def test_hash_constants():
    assert models.fnv1a64("abc") == 0xE71FA2190541574B
    assert models.fnv1a64("") == 0xCBF29CE484222325
    assert models.minhash_params(2) == [
        (0x9E3779B97F4B27E3, 0x9E3779B97F4A8E49),
        (0x3C6EF372FE95A3F7, 0x3C6EF372FE950A5E),
    ]


@pytest.mark.parametrize(
    "text, k, expected",
    [
        ("abc", 3, [107385297314013898, 2242858558886249666]),
        ("abc", 4, [107385297314013898, 2242858558886249666]),
        ("", 3, [214467063832468254, 1007223326381081109]),
    ],
)
def test_known_signatures(text, k, expected):
    assert kivo.minhash_signature(text, k, 2) == expected
    assert models.minhash_signature(text, k, 2) == expected


def test_no_hash_functions():
    assert kivo.minhash_signature("abc", 3, 0) == []
    assert math.isnan(kivo.minhash_similarity("abc", "abc", 3, 0))
    assert math.isnan(kivo.minhash_similarity("abc", "xyz", 3, 0))


@pytest.mark.parametrize("a, b", [("abc", "abc"), ("", ""), ("abc", "abd")])
def test_shingle_size_zero_panics_even_for_equal_texts(a, b):
    with pytest.raises(kivo.PanicException, match=r"^window size must be non-zero$"):
        kivo.minhash_signature(a, 0, 4)
    with pytest.raises(kivo.PanicException, match=r"^window size must be non-zero$"):
        kivo.minhash_similarity(a, b, 0, 4)


@pytest.mark.parametrize("a", ["", "a", "hello world", "日本語のテキスト😀"])
def test_equal_texts_score_one(a):
    assert kivo.minhash_similarity_default(a, a) == 1.0
    assert kivo.minhash_similarity(a, a, 2, 1) == 1.0


def test_default_uses_trigrams_and_128_hashes():
    a, b = "the quick brown fox", "the quick brown cat"
    assert kivo.minhash_similarity_default(a, b) == kivo.minhash_similarity(a, b, 3, 128)
    assert kivo.minhash_similarity_default(a, b) == models.minhash_similarity(a, b, 3, 128)


def test_longer_signature_extends_shorter():
    text = "a longer text with repeats repeats repeats"
    long = kivo.minhash_signature(text, 3, 300)
    assert len(long) == 300
    assert all(0 <= v < P for v in long)
    for k in (1, 2, 64, 65, 299):
        assert kivo.minhash_signature(text, 3, k) == long[:k]


@pytest.mark.parametrize("size", [1, 2, *HUGE])
def test_hostile_shingle_sizes(size):
    expected = models.minhash_signature("é😀x", size, 3)
    assert kivo.minhash_signature("é😀x", size, 3) == expected
    assert kivo.minhash_similarity("abc", "abd", size, 8) == models.minhash_similarity(
        "abc", "abd", size, 8
    )


@pytest.mark.parametrize("num_hashes", [1, 2])
def test_small_num_hashes(num_hashes):
    assert kivo.minhash_signature("abc", 2, num_hashes) == models.minhash_signature(
        "abc", 2, num_hashes
    )
    assert kivo.minhash_similarity("abc", "abc", 2, num_hashes) == 1.0


@pytest.mark.parametrize("num_hashes", HUGE)
def test_unsatisfiable_num_hashes_raise_memory_error(num_hashes):
    # A signature handed to Python costs at least 8 bytes natively plus a list
    # slot and an int object; two native signatures back a similarity.
    if num_hashes * 64 <= physical_memory():
        pytest.skip("this machine could hold the signature")
    message = rf"^num_hashes {num_hashes} is too large to fit in memory$"
    with pytest.raises(MemoryError, match=message):
        kivo.minhash_signature("abc", 3, num_hashes)
    if num_hashes * 16 <= physical_memory():
        return
    with pytest.raises(MemoryError, match=message):
        kivo.minhash_similarity("abc", "abc", 3, num_hashes)
    with pytest.raises(kivo.PanicException):
        kivo.minhash_signature("abc", 0, num_hashes)
    # The interpreter is unharmed and the next call works.
    assert kivo.minhash_signature("abc", 3, 2) == [107385297314013898, 2242858558886249666]


@settings(max_examples=200, deadline=None)
@given(texts(), st.integers(1, 5), st.integers(0, 40))
def test_signature_agrees_with_model(text, k, m):
    signature = kivo.minhash_signature(text, k, m)
    assert signature == models.minhash_signature(text, k, m)
    assert all(0 <= v < P for v in signature)


@settings(max_examples=200, deadline=None)
@given(texts(), texts(), st.integers(1, 5), st.integers(1, 40))
def test_similarity_agrees_with_model(a, b, k, m):
    score = kivo.minhash_similarity(a, b, k, m)
    assert score == models.minhash_similarity(a, b, k, m)
    assert score == kivo.minhash_similarity(b, a, k, m)
    assert 0.0 <= score <= 1.0
    assert (score * m).is_integer()


@pytest.mark.parametrize("length", [63, 64, 65])
def test_lengths_around_64_characters(length):
    text = ("ab😀cé日" * 20)[:length]
    for k in (1, 3, 64, 65):
        assert kivo.minhash_signature(text, k, 16) == models.minhash_signature(text, k, 16)
