"""BM25 over the two-document corpus of its arguments, the first being the query."""

import math

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kivo

import term_models as model
from term_strategies import disguised, term_texts


@pytest.mark.parametrize(
    "a, b, expected",
    [
        ("", "cat", 0.0),
        (" \t!?", "cat", 0.0),
        ("", "", 0.0),
        ("cat", "", 0.0),
        ("cat", "...", 0.0),
        ("the cat sat", "sat the cat", 1.0),
        ("the cat sat", "the cat sat", 1.0),
        ("Cat!", "cat", 1.0),
        ("cat", "cat dog", 0.7600000000000001),
        ("cat dog", "cat", 0.2740209615940031),
        ("cat", "cat cat", 1.0),
        ("cat cat", "cat", 0.9210526315789473),
        ("cat", "dog", 0.0),
        ("ΟΔΟΣ", "οδος", 1.0),
        ("don’t", "don't", 0.0),  # U+2019 stays inside the term, U+0027 splits
    ],
)
def test_known_values(a, b, expected):
    assert kivo.bm25_similarity(a, b) == expected
    assert model.bm25_similarity(a, b) == expected


def test_cat_against_cat_dog_is_the_ratio_of_the_two_raw_scores():
    s_ab = math.log(1.2) * 2.2 / 2.5
    s_aa = math.log(1.2) * 2.2 / 1.9
    assert kivo.bm25_similarity("cat", "cat dog") == pytest.approx(s_ab / s_aa, rel=1e-15)
    assert kivo.bm25_similarity("cat dog", "cat") == pytest.approx(0.2740, abs=5e-5)
    assert kivo.bm25_similarity("cat cat", "cat") == pytest.approx(0.9211, abs=5e-5)


def test_query_is_always_the_first_argument():
    assert kivo.bm25_similarity("cat", "cat dog") != kivo.bm25_similarity("cat dog", "cat")


def test_each_query_occurrence_contributes():
    # "cat" twice weighs the one shared term against the unshared one.
    assert kivo.bm25_similarity("cat cat dog", "cat") > kivo.bm25_similarity("cat dog", "cat")


@settings(max_examples=300, deadline=None)
@given(term_texts(), term_texts())
def test_matches_model(a, b):
    result = kivo.bm25_similarity(a, b)
    assert result == model.bm25_similarity(a, b)
    assert 0.0 <= result <= 1.0
    if not model.tokenize_terms(a):
        assert result == 0.0


@settings(max_examples=100, deadline=None)
@given(term_texts(), term_texts(), st.data())
def test_separators_and_ascii_case_do_not_matter(a, b, data):
    expected = kivo.bm25_similarity(a, b)
    assert kivo.bm25_similarity(data.draw(disguised(a)), data.draw(disguised(b))) == expected


@pytest.mark.parametrize("a", ["\ud800", "a\udfff b"])
def test_lone_surrogates_are_rejected(a):
    with pytest.raises(UnicodeEncodeError):
        kivo.bm25_similarity(a, "a")
    with pytest.raises(UnicodeEncodeError):
        kivo.bm25_similarity("a", a)


@pytest.mark.parametrize("repeats", [1, 1000, 50_000])
def test_long_texts_match_model(repeats):
    a = "alpha beta, gamma! " * repeats + " ".join(f"t{i}" for i in range(repeats))
    b = "beta gamma delta " * (repeats // 2 + 1) + " ".join(f"t{i}" for i in range(0, repeats, 3))
    assert kivo.bm25_similarity(a, b) == model.bm25_similarity(a, b)
