"""kivo.batch's OSA and LCS measures on lists longer than a tile of choices
(32, scored in one lane kernel call) and than a lane block of queries: every
dtype, with and without a cutoff, on every vector path, against the single
calls bit for bit."""

import random

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import kivo.edit as edit
import kivo.tokens as tokens
from test_simd_paths import SUPPORTED

np = pytest.importorskip("numpy")
batch = pytest.importorskip("kivo.batch")

DISTANCES = [edit.osa_distance, edit.indel_distance]
SIMILARITIES = [edit.osa_similarity, edit.indel_similarity, edit.lcs_similarity, tokens.ratio]
# Around the lane widths and the 64-bit word, and past two words.
LENGTHS = [0, 1, 2, 7, 8, 9, 15, 16, 17, 31, 33, 63, 64, 65, 130]
# ASCII, Latin-1, the BMP, astral planes.
ALPHABETS = ["abc", "aéßÿ", "aΣж日本", "a😀𐐷\U0010ffff"]


PROPERTY = settings(deadline=None, max_examples=60, suppress_health_check=[HealthCheck.too_slow])


def texts(rng, count, alphabet):
    """Mostly lane-sized texts, some past the lanes, and near-copies of earlier ones."""
    out = []
    for _ in range(count):
        if out and rng.random() < 0.3:
            chars = list(rng.choice(out)) or ["x"]
            chars[rng.randrange(len(chars))] = rng.choice(alphabet + "x")
            out.append("".join(chars))
        else:
            out.append("".join(rng.choices(alphabet, k=rng.choice(LENGTHS))))
    return out


@st.composite
def problems(draw):
    rng = random.Random(draw(st.integers(0, 2**32)))
    alphabet = draw(st.sampled_from(ALPHABETS))
    queries = texts(rng, draw(st.integers(0, 40)), alphabet)
    choices = texts(rng, draw(st.sampled_from([0, 1, 31, 32, 33, 64, 65, 97])), alphabet)
    return queries, choices


def matrix_of(scorer, queries, choices):
    dtype = np.int64 if scorer in DISTANCES else np.float64
    return np.array([[scorer(a, b) for b in choices] for a in queries], dtype).reshape(len(queries), len(choices))


def same(got, want):
    return got.dtype == want.dtype and got.shape == want.shape and got.tobytes() == want.tobytes()


@PROPERTY
@given(problem=problems(), scorer=st.sampled_from(DISTANCES + SIMILARITIES), data=st.data())
def test_cdist_and_pairs_over_many_tiles_equal_the_single_calls(problem, scorer, data):
    queries, choices = problem
    distance = scorer in DISTANCES
    path = data.draw(st.sampled_from(SUPPORTED))
    dtype = data.draw(st.sampled_from(["int64", "int32", "uint16", "float32", "float64"] if distance
                                      else ["float64", "float32"]))  # fmt: skip
    workers = data.draw(st.sampled_from([1, 2]))
    matrix = matrix_of(scorer, queries, choices)
    scores = sorted(set(matrix.ravel().tolist()))
    cutoff = data.draw(st.sampled_from([None, *scores[:: max(1, len(scores) // 4)]]))
    before = batch._simd_path()
    batch._limit_simd(path)
    try:
        got = batch.cdist(queries, choices, scorer=scorer, score_cutoff=cutoff, dtype=dtype, workers=workers)
        kept = np.ones(matrix.shape, bool) if cutoff is None else (matrix <= cutoff if distance else matrix >= cutoff)
        fill = 0 if cutoff is None else cutoff + 1 if distance else 0.0
        assert same(got, np.where(kept, matrix, fill).astype(dtype))
        if cutoff is not None:
            i, j, s = batch.pairs(queries, choices, scorer=scorer, score_cutoff=cutoff, workers=workers)
            assert list(zip(i.tolist(), j.tolist())) == [tuple(p) for p in np.argwhere(kept).tolist()]
            assert same(s, matrix[i, j])
    finally:
        batch._limit_simd(before)
