"""TF-IDF cosine similarity over the two-document corpus of its arguments."""

import math
import os
import subprocess
import sys

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kivo

import term_models as model
from term_strategies import SEPARATOR_RUNS, disguised, term_texts


@pytest.mark.parametrize(
    "a, b, expected",
    [
        ("", "", 1.0),
        ("!!!", "", 1.0),
        (" \t\u3000", "?!", 1.0),
        ("a", "", 0.0),
        ("", "a", 0.0),
        ("the cat", "the dog", 0.33609692727625745),
        ("a b", "b a", 0.9999999999999998),
        ("apple", "apple apple", 1.0),
        ("cat", "dog", 0.0),
        ("a a b c", "a a b c", 1.0000000000000002),  # cosine is not clamped
        ("ΟΔΟΣ.", "οδος", 1.0),
        ("don’t", "don't", 0.0),  # U+2019 stays inside the term, U+0027 splits
    ],
)
def test_known_values(a, b, expected):
    assert kivo.tfidf_similarity(a, b) == expected
    assert model.tfidf_similarity(a, b) == expected


def test_no_common_term_gives_positive_zero():
    assert math.copysign(1.0, kivo.tfidf_similarity("cat sat", "dog ran")) == 1.0


@pytest.mark.parametrize(
    "a, b",
    [
        ("Hello, World!", "hello world"),
        ("HELLO...world", "hello world"),
        ("\u00a0hello\u2028WORLD\u3000", "hello world"),
    ],
)
def test_case_and_ascii_punctuation_do_not_matter(a, b):
    assert kivo.tfidf_similarity(a, b) == kivo.tfidf_similarity(b, b)


@settings(max_examples=100, deadline=None)
@given(term_texts(), term_texts(), st.data())
def test_separators_and_ascii_case_do_not_matter_in_random_texts(a, b, data):
    expected = kivo.tfidf_similarity(a, b)
    assert kivo.tfidf_similarity(data.draw(disguised(a)), data.draw(disguised(b))) == expected


@pytest.mark.parametrize("a", ["\ud800", "a\udfff b"])
def test_lone_surrogates_are_rejected(a):
    with pytest.raises(UnicodeEncodeError):
        kivo.tfidf_similarity(a, "a")
    with pytest.raises(UnicodeEncodeError):
        kivo.tfidf_similarity("a", a)


@settings(max_examples=300, deadline=None)
@given(term_texts(), term_texts())
def test_matches_model(a, b):
    result = kivo.tfidf_similarity(a, b)
    assert result == model.tfidf_similarity(a, b)
    # A cosine, up to the rounding of its unclamped division.
    assert 0.0 <= result <= 1.0 + 4 * sys.float_info.epsilon
    assert result == pytest.approx(kivo.tfidf_similarity(b, a), rel=1e-12, abs=1e-15)


@settings(max_examples=100, deadline=None)
@given(term_texts(), st.lists(SEPARATOR_RUNS, min_size=1, max_size=3))
def test_texts_without_terms(a, separators):
    empty = "".join(separators)
    assert kivo.tfidf_similarity(empty, "") == 1.0
    expected = 1.0 if not model.tokenize_terms(a) else 0.0
    assert kivo.tfidf_similarity(a, empty) == expected
    assert kivo.tfidf_similarity(empty, a) == expected


@pytest.mark.parametrize("repeats", [1, 1000, 50_000])
def test_long_texts_match_model(repeats):
    a = "alpha beta, gamma! " * repeats + " ".join(f"t{i}" for i in range(repeats))
    b = "beta gamma delta " * (repeats // 2 + 1) + " ".join(f"t{i}" for i in range(0, repeats, 3))
    assert kivo.tfidf_similarity(a, b) == model.tfidf_similarity(a, b)


# Many distinct terms with varied weights: summed in other orders, this pair
# gives several different last bits.
MANY_TERMS_A = " ".join(f"w{i % 97} x{i % 13} y{i * i % 31}" for i in range(400))
MANY_TERMS_B = " ".join(f"x{i % 11} w{i % 89} y{i % 7}" for i in range(300))


def test_result_is_identical_across_calls_and_processes():
    first = kivo.tfidf_similarity(MANY_TERMS_A, MANY_TERMS_B)
    assert first == model.tfidf_similarity(MANY_TERMS_A, MANY_TERMS_B)
    assert kivo.tfidf_similarity(MANY_TERMS_A, MANY_TERMS_B) == first
    code = "import kivo, sys; print(kivo.tfidf_similarity(sys.argv[1], sys.argv[2]).hex())"
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(
        [os.path.dirname(kivo.__file__)] + env.get("PYTHONPATH", "").split(os.pathsep)
    )
    for seed in ("1", "2"):
        env["PYTHONHASHSEED"] = seed
        out = subprocess.run(
            [sys.executable, "-c", code, MANY_TERMS_A, MANY_TERMS_B],
            env=env,
            capture_output=True,
            text=True,
            check=True,
        )
        assert float.fromhex(out.stdout.strip()) == first
