"""Measures over character shingles and word sets: Jaccard, MinHash, SimHash."""

import math
import os
import resource

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kivo
import models
from strategies import ALPHABET, texts

P = 2**61 - 1
HUGE = [2**32, 2**63, 2**64 - 1]
ABC_SIGNATURE = [107385297314013898, 2242858558886249666]


def physical_memory():
    return os.sysconf("SC_PHYS_PAGES") * os.sysconf("SC_PAGE_SIZE")


@pytest.mark.parametrize(
    "function, a, b, expected",
    [
        (lambda a, b: kivo.jaccard_similarity(a, b, 2), "night", "nacht", 1 / 7),
        (lambda a, b: kivo.jaccard_similarity(a, b, 0), "abc", "abc", 1.0),
        (lambda a, b: kivo.jaccard_similarity(a, b, 0), "", "", 1.0),
        (lambda a, b: kivo.jaccard_similarity(a, b, 5), "", "", 1.0),
        (lambda a, b: kivo.jaccard_similarity(a, b, 1), "", "abc", 0.0),
        (lambda a, b: kivo.jaccard_similarity(a, b, 1), "abc", "abd", 0.5),
        (lambda a, b: kivo.jaccard_similarity(a, b, 2), "aaaa", "aa", 1.0),
        # Characters, not bytes: 'héllo' has the bigrams hé, él, ll, lo.
        (lambda a, b: kivo.jaccard_similarity(a, b, 2), "héllo", "hélo", 3 / 4),
        (lambda a, b: kivo.jaccard_similarity(a, b, 2), "héllo", "hello", 2 / 6),
        (lambda a, b: kivo.jaccard_similarity(a, b, 3), "ab", "abc", 0.0),
        (lambda a, b: kivo.jaccard_similarity(a, b, 3), "ab", "ac", 0.0),
        (lambda a, b: kivo.jaccard_similarity(a, b, 3), "abc", "abcd", 1 / 2),
        (lambda a, b: kivo.jaccard_similarity(a, b, 2), "😀😁😂", "😀😁", 1 / 2),
        (lambda a, b: kivo.jaccard_similarity(a, b, 1), "\u00e9", "e\u0301", 0.0),
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
        (kivo.simhash_similarity_default, "hello world", "hello there", 0.71875),
        (lambda a, b: kivo.simhash_similarity(a, b, 4), "hello world", "hello there", 0.71875),
    ],
)
def test_known_similarities(function, a, b, expected):
    assert function(a, b) == expected
    assert function(b, a) == expected


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
        ("hello world", 4, 5375315141837979940),
    ],
)
def test_known_simhash_fingerprints(text, size, expected):
    assert kivo.simhash_fingerprint(text, size) == expected
    if size == 4:
        assert kivo.simhash_fingerprint_default(text) == expected


def test_minhash_hash_constants():
    assert models.fnv1a64("abc") == 0xE71FA2190541574B
    assert models.minhash_params(2) == [
        (0x9E3779B97F4B27E3, 0x9E3779B97F4A8E49),
        (0x3C6EF372FE95A3F7, 0x3C6EF372FE950A5E),
    ]


@pytest.mark.parametrize(
    "text, k, expected",
    [("abc", 3, ABC_SIGNATURE), ("abc", 4, ABC_SIGNATURE),
     ("", 3, [214467063832468254, 1007223326381081109])],
)
def test_known_minhash_signatures(text, k, expected):
    assert kivo.minhash_signature(text, k, 2) == expected
    assert models.minhash_signature(text, k, 2) == expected


def test_minhash_without_hash_functions():
    assert kivo.minhash_signature("abc", 3, 0) == []
    assert math.isnan(kivo.minhash_similarity("abc", "abc", 3, 0))
    assert math.isnan(kivo.minhash_similarity("abc", "xyz", 3, 0))


@pytest.mark.parametrize("a", ["", "a", "hello world", "日本語のテキスト😀"])
def test_minhash_equal_texts_score_one(a):
    assert kivo.minhash_similarity_default(a, a) == 1.0
    assert kivo.minhash_similarity(a, a, 2, 1) == 1.0


def test_minhash_default_uses_trigrams_and_128_hashes():
    a, b = "the quick brown fox", "the quick brown cat"
    assert kivo.minhash_similarity_default(a, b) == kivo.minhash_similarity(a, b, 3, 128)
    assert kivo.minhash_similarity_default(a, b) == models.minhash_similarity(a, b, 3, 128)


def test_longer_minhash_signature_extends_shorter():
    text = "a longer text with repeats repeats repeats"
    long = kivo.minhash_signature(text, 3, 300)
    assert len(long) == 300
    assert all(0 <= v < P for v in long)
    for k in (1, 2, 64, 65, 299):
        assert kivo.minhash_signature(text, 3, k) == long[:k]


WINDOW_ERROR = r"^window size must be non-zero$"


@pytest.mark.parametrize("a, b", [("abc", "abd"), ("", "a"), ("a", "")])
def test_jaccard_window_size_zero_panics_for_different_texts(a, b):
    with pytest.raises(kivo.PanicException, match=WINDOW_ERROR):
        kivo.jaccard_similarity(a, b, 0)


@pytest.mark.parametrize(
    "call",
    [
        lambda a, b: kivo.simhash_fingerprint(a, 0),
        lambda a, b: kivo.simhash_similarity(a, b, 0),
        lambda a, b: kivo.minhash_signature(a, 0, 4),
        lambda a, b: kivo.minhash_similarity(a, b, 0, 4),
    ],
    ids=["simhash_fingerprint", "simhash_similarity", "minhash_signature", "minhash_similarity"],
)
@pytest.mark.parametrize("a, b", [("abc", "abc"), ("", ""), ("abc", "abd")])
def test_hash_shingle_size_zero_panics_even_for_equal_texts(call, a, b):
    with pytest.raises(kivo.PanicException, match=WINDOW_ERROR):
        call(a, b)


@pytest.mark.parametrize("size", [1, 2, *HUGE])
def test_hostile_window_sizes(size):
    # A window wider than the text makes the whole text the only shingle.
    assert kivo.jaccard_similarity("abc", "abd", size) == models.jaccard("abc", "abd", size)
    assert kivo.jaccard_similarity("é😀", "é😀", size) == 1.0
    text = "é😀 text"
    assert kivo.simhash_fingerprint(text, size) == models.simhash_fingerprint(text, size)
    assert kivo.simhash_similarity(text, text, size) == 1.0
    assert kivo.minhash_signature(text, size, 3) == models.minhash_signature(text, size, 3)
    expected = models.minhash_similarity("abc", "abd", size, 8)
    assert kivo.minhash_similarity("abc", "abd", size, 8) == expected


@pytest.mark.parametrize("num_hashes", [2**32, 2**40, 2**61, 2**63, 2**64 - 1])
def test_num_hashes_beyond_memory_are_refused_up_front(num_hashes):
    # A signature handed to Python costs at least 8 bytes natively plus a list
    # slot and an int object; two native signatures back a similarity.
    if num_hashes * 64 <= physical_memory():
        pytest.skip("this machine could hold the signature")
    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    message = rf"^num_hashes {num_hashes} is too large to fit in memory$"
    with pytest.raises(MemoryError, match=message):
        kivo.minhash_signature("abc", 3, num_hashes)
    if num_hashes * 16 <= physical_memory():
        return
    with pytest.raises(MemoryError, match=message):
        kivo.minhash_similarity("abc", "abd", 3, num_hashes)
    assert resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before < 64 * 1024  # KiB
    # A zero shingle size is reported first.
    with pytest.raises(kivo.PanicException):
        kivo.minhash_signature("abc", 0, num_hashes)
    # The interpreter is unharmed and the next call works.
    assert kivo.minhash_signature("abc", 3, 2) == ABC_SIGNATURE


@pytest.mark.parametrize("length", [62, 63, 64, 65, 66])
@pytest.mark.parametrize("n", [1, 2, 3, 4, 63, 64, 65])
def test_lengths_around_64_characters(length, n):
    a = ("ab😀cé日" * 20)[:length]
    b = ("bé😀ac日" * 20)[:length]
    assert kivo.jaccard_similarity(a, b, n) == models.jaccard(a, b, n)
    assert kivo.simhash_fingerprint(a, n) == models.simhash_fingerprint(a, n)
    assert kivo.minhash_signature(a, n, 16) == models.minhash_signature(a, n, 16)


@settings(max_examples=300, deadline=None)
@given(texts(), texts(), st.integers(0, 6))
def test_jaccard_agrees_with_model(a, b, n):
    if n == 0 and a != b:
        with pytest.raises(kivo.PanicException):
            kivo.jaccard_similarity(a, b, n)
        return
    expected = models.jaccard(a, b, n)
    assert kivo.jaccard_similarity(a, b, n) == expected
    assert kivo.jaccard_similarity(b, a, n) == expected
    assert 0.0 <= expected <= 1.0
    assert kivo.jaccard_bigram_similarity(a, b) == models.jaccard(a, b, 2)
    assert kivo.jaccard_trigram_similarity(a, b) == models.jaccard(a, b, 3)


@settings(max_examples=300, deadline=None)
@given(texts(), texts())
def test_jaccard_words_agree_with_model(a, b):
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


@settings(max_examples=200, deadline=None)
@given(texts(), texts(), st.integers(1, 6))
def test_simhash_agrees_with_model(a, b, size):
    assert kivo.simhash_fingerprint(a, size) == models.simhash_fingerprint(a, size)
    score = kivo.simhash_similarity(a, b, size)
    assert score == models.simhash_similarity(a, b, size)
    assert score == kivo.simhash_similarity(b, a, size)
    assert 0.0 <= score <= 1.0
    fa, fb = kivo.simhash_fingerprint(a, size), kivo.simhash_fingerprint(b, size)
    assert score == 1 - bin(fa ^ fb).count("1") / 64
    assert kivo.simhash_similarity(a, a, size) == 1.0


@settings(max_examples=200, deadline=None)
@given(texts(), st.integers(1, 5), st.integers(0, 40))
def test_minhash_signature_agrees_with_model(text, k, m):
    signature = kivo.minhash_signature(text, k, m)
    assert signature == models.minhash_signature(text, k, m)
    assert all(0 <= v < P for v in signature)


@settings(max_examples=200, deadline=None)
@given(texts(), texts(), st.integers(1, 5), st.integers(1, 40))
def test_minhash_similarity_agrees_with_model(a, b, k, m):
    score = kivo.minhash_similarity(a, b, k, m)
    assert score == models.minhash_similarity(a, b, k, m)
    assert score == kivo.minhash_similarity(b, a, k, m)
    assert 0.0 <= score <= 1.0
    assert (score * m).is_integer()
