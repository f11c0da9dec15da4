"""BM25 and TF-IDF cosine similarity over the two-document corpus of their
arguments (for BM25 the first argument is the query)."""

import math
import os
import subprocess
import sys

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kivo
import models
from strategies import SEPARATOR_RUNS, disguised, term_texts

BM25 = (kivo.bm25_similarity, models.bm25_similarity)
TFIDF = (kivo.tfidf_similarity, models.tfidf_similarity)


@pytest.mark.parametrize(
    "measure, a, b, expected",
    [
        (BM25, "", "cat", 0.0),
        (BM25, " \t!?", "cat", 0.0),
        (BM25, "", "", 0.0),
        (BM25, "cat", "", 0.0),
        (BM25, "cat", "...", 0.0),
        (BM25, "the cat sat", "sat the cat", 1.0),
        (BM25, "the cat sat", "the cat sat", 1.0),
        (BM25, "Cat!", "cat", 1.0),
        (BM25, "cat", "cat dog", 0.7600000000000001),
        (BM25, "cat dog", "cat", 0.2740209615940031),
        (BM25, "cat", "cat cat", 1.0),
        (BM25, "cat cat", "cat", 0.9210526315789473),
        (BM25, "cat", "dog", 0.0),
        (BM25, "ΟΔΟΣ", "οδος", 1.0),
        (BM25, "don’t", "don't", 0.0),  # U+2019 stays inside the term, U+0027 splits
        (TFIDF, "", "", 1.0),
        (TFIDF, "!!!", "", 1.0),
        (TFIDF, " \t\u3000", "?!", 1.0),
        (TFIDF, "a", "", 0.0),
        (TFIDF, "", "a", 0.0),
        (TFIDF, "the cat", "the dog", 0.33609692727625745),
        (TFIDF, "a b", "b a", 0.9999999999999998),
        (TFIDF, "apple", "apple apple", 1.0),
        (TFIDF, "cat", "dog", 0.0),
        (TFIDF, "a a b c", "a a b c", 1.0000000000000002),  # cosine is not clamped
        (TFIDF, "ΟΔΟΣ.", "οδος", 1.0),
        (TFIDF, "don’t", "don't", 0.0),
        # Case and ASCII punctuation do not matter; any whitespace separates.
        (TFIDF, "Hello, World!", "hello world", 0.9999999999999998),
        (TFIDF, "HELLO...world", "hello world", 0.9999999999999998),
        (TFIDF, "\u00a0hello\u2028WORLD\u3000", "hello world", 0.9999999999999998),
    ],
    ids=lambda v: v[0].__name__ if isinstance(v, tuple) else None,
)
def test_known_values(measure, a, b, expected):
    native, model = measure
    assert native(a, b) == expected
    assert model(a, b) == expected


def test_bm25_cat_against_cat_dog_is_the_ratio_of_the_two_raw_scores():
    s_ab = math.log(1.2) * 2.2 / 2.5
    s_aa = math.log(1.2) * 2.2 / 1.9
    assert kivo.bm25_similarity("cat", "cat dog") == pytest.approx(s_ab / s_aa, rel=1e-15)
    assert kivo.bm25_similarity("cat dog", "cat") == pytest.approx(0.2740, abs=5e-5)
    assert kivo.bm25_similarity("cat cat", "cat") == pytest.approx(0.9211, abs=5e-5)


def test_bm25_each_query_occurrence_contributes():
    # "cat" twice weighs the one shared term against the unshared one.
    assert kivo.bm25_similarity("cat cat dog", "cat") > kivo.bm25_similarity("cat dog", "cat")


def test_tfidf_no_common_term_gives_positive_zero():
    assert math.copysign(1.0, kivo.tfidf_similarity("cat sat", "dog ran")) == 1.0


@settings(max_examples=300, deadline=None)
@given(term_texts(), term_texts())
def test_bm25_matches_model(a, b):
    result = kivo.bm25_similarity(a, b)
    assert result == models.bm25_similarity(a, b)
    assert 0.0 <= result <= 1.0
    if not models.tokenize_terms(a):
        assert result == 0.0


@settings(max_examples=300, deadline=None)
@given(term_texts(), term_texts())
def test_tfidf_matches_model(a, b):
    result = kivo.tfidf_similarity(a, b)
    assert result == models.tfidf_similarity(a, b)
    # A cosine, up to the rounding of its unclamped division.
    assert 0.0 <= result <= 1.0 + 4 * sys.float_info.epsilon
    assert result == pytest.approx(kivo.tfidf_similarity(b, a), rel=1e-12, abs=1e-15)


@pytest.mark.parametrize("native", [kivo.bm25_similarity, kivo.tfidf_similarity])
@settings(max_examples=100, deadline=None)
@given(a=term_texts(), b=term_texts(), data=st.data())
def test_separators_and_ascii_case_do_not_matter(native, a, b, data):
    expected = native(a, b)
    assert native(data.draw(disguised(a)), data.draw(disguised(b))) == expected


@settings(max_examples=100, deadline=None)
@given(term_texts(), st.lists(SEPARATOR_RUNS, min_size=1, max_size=3))
def test_tfidf_texts_without_terms(a, separators):
    empty = "".join(separators)
    assert kivo.tfidf_similarity(empty, "") == 1.0
    expected = 1.0 if not models.tokenize_terms(a) else 0.0
    assert kivo.tfidf_similarity(a, empty) == expected
    assert kivo.tfidf_similarity(empty, a) == expected


@pytest.mark.parametrize("measure", [BM25, TFIDF], ids=["bm25", "tfidf"])
@pytest.mark.parametrize("repeats", [1, 1000, 50_000])
def test_long_texts_match_model(measure, repeats):
    native, model = measure
    a = "alpha beta, gamma! " * repeats + " ".join(f"t{i}" for i in range(repeats))
    b = "beta gamma delta " * (repeats // 2 + 1) + " ".join(f"t{i}" for i in range(0, repeats, 3))
    assert native(a, b) == model(a, b)


# Many distinct terms with varied weights: summed in other orders, this pair
# gives several different last bits.
MANY_TERMS_A = " ".join(f"w{i % 97} x{i % 13} y{i * i % 31}" for i in range(400))
MANY_TERMS_B = " ".join(f"x{i % 11} w{i % 89} y{i % 7}" for i in range(300))


def test_tfidf_result_is_identical_across_calls_and_processes():
    first = kivo.tfidf_similarity(MANY_TERMS_A, MANY_TERMS_B)
    assert first == models.tfidf_similarity(MANY_TERMS_A, MANY_TERMS_B)
    assert kivo.tfidf_similarity(MANY_TERMS_A, MANY_TERMS_B) == first
    code = "import kivo, sys; print(kivo.tfidf_similarity(sys.argv[1], sys.argv[2]).hex())"
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(
        [os.path.dirname(kivo.__path__[0])] + env.get("PYTHONPATH", "").split(os.pathsep)
    )
    for seed in ("1", "2"):
        env["PYTHONHASHSEED"] = seed
        out = subprocess.run(
            [sys.executable, "-c", code, MANY_TERMS_A, MANY_TERMS_B],
            env=env, capture_output=True, text=True, check=True,
        )
        assert float.fromhex(out.stdout.strip()) == first
