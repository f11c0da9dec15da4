"""OSA and Levenshtein on texts long enough for bands (past about 290
characters): only the diagonals an alignment within a bound can use are
computed, and the band widens when the distance is beyond it. Exact against
the plain models and RapidFuzz at distances around the bands' widths (63)
and their doublings, with swaps right at the bands' edges."""

import random

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kivo
import models

edit = pytest.importorskip("kivo.edit")

# Near a band's width and its doublings: one side or the other of each.
EDITS = [0, 1, 31, 32, 33, 62, 63, 64, 65, 66, 126, 127, 128, 129, 130, 200, 260]
ALPHABETS = ["ab", "abc", "abcdefghijklmnopqrstuvwxyz ", "aé日😀", "ab日"]


def edited(rng, text, alphabet, edits):
    """`text` after `edits` random swaps of neighbours, insertions, deletions
    and substitutions, each of which OSA counts once."""
    chars = list(text)
    for _ in range(edits):
        at = rng.randrange(len(chars) + 1)
        op = rng.randrange(4) if at + 1 < len(chars) else 0
        if op == 0:
            chars.insert(at, rng.choice(alphabet))
        elif op == 1:
            chars[at], chars[at + 1] = chars[at + 1], chars[at]
        elif op == 2:
            chars[at] = rng.choice(alphabet)
        else:
            del chars[at]
    return "".join(chars)


def pair(rng, length, edits, alphabet=None):
    alphabet = alphabet or rng.choice(ALPHABETS)
    a = "".join(rng.choices(alphabet, k=length))
    b = edited(rng, a, alphabet, edits)
    # Text added at the start, the middle or the end moves the pair off the
    # main diagonal, past a band of 63 when it is long.
    if rng.random() < 0.5:
        run = "".join(rng.choices(alphabet, k=rng.randrange(1, 200)))
        at = rng.choice([0, len(b) // 2, len(b)])
        b = b[:at] + run + b[at:]
    return (a, b) if rng.random() < 0.5 else (b, a)


@settings(deadline=None, max_examples=30)
@given(rng=st.randoms(use_true_random=False), length=st.integers(285, 360),
       edits=st.sampled_from(EDITS))  # fmt: skip
def test_band_lengths_agree_with_the_models(rng, length, edits):
    a, b = pair(rng, length, edits)
    assert edit.osa_distance(a, b) == models.osa_distance(a, b)
    assert kivo.levenshtein_distance(a, b) == models.levenshtein_distance(a, b)


# Pairs whose bands once went wrong: a swap on a row entering the band below
# must not lower the rows under it, whose previous column the band never held.
@pytest.mark.parametrize(("seed", "edits"), [(8, 64), (14, 63), (51, 30), (67, 129)])
def test_a_thousand_characters_agree_with_the_model(seed, edits):
    a, b = pair(random.Random(seed), 1000, edits, alphabet="ab")
    assert edit.osa_distance(a, b) == models.osa_distance(a, b)


@settings(deadline=None, max_examples=150)
@given(seed=st.integers(0, 2**32), length=st.integers(285, 2000), edits=st.sampled_from(EDITS))
def test_band_lengths_agree_with_rapidfuzz(seed, length, edits):
    distance = pytest.importorskip("rapidfuzz.distance")
    rng = random.Random(seed)
    a, b = pair(rng, length, edits, alphabet=rng.choice(["ab", "abc"]))
    assert edit.osa_distance(a, b) == distance.OSA.distance(a, b)
    assert kivo.levenshtein_distance(a, b) == distance.Levenshtein.distance(a, b)
