"""Cutoffs let kivo.batch skip work but never change a result. Cutoffs are
drawn from the real scores (the exact score, one ulp either side, the integer
distance bounds) on every vector path, for short texts in lanes of each
width and long ones (65 to 1,000 characters) through the banded programme,
and the self-join is checked against a model built from single calls."""

import math
import random

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import kivo
from kivo.edit import indel_distance, indel_similarity, lcs_similarity, osa_distance, osa_similarity
from kivo.tokens import ratio
from kivo.tokens import weighted_ratio as ratio_weighted
from test_batch import is_distance, model, model_topk, passes
from test_simd_paths import SUPPORTED, same

np = pytest.importorskip("numpy")
batch = pytest.importorskip("kivo.batch")

SCORERS = [kivo.levenshtein_distance, kivo.levenshtein_similarity, kivo.jaro_winkler_similarity,
           osa_distance, osa_similarity, indel_distance, indel_similarity, lcs_similarity,
           ratio]  # fmt: skip
ALPHABETS = ["ab", "abcdefghij klmnop", "aéßΣж日本 ", "a😀𐐷\U0010ffff"]
# Lengths that land in each lane width, in one and two words, and past them.
LENGTHS = [0, 1, 5, 8, 9, 16, 17, 32, 33, 63, 64, 65, 100, 128, 129, 300, 1000]
PRUNING = settings(deadline=None, max_examples=40, suppress_health_check=[HealthCheck.too_slow])


def edit(rng, text, alphabet, count):
    chars = list(text)
    for _ in range(count):
        at = rng.randrange(len(chars) + 1)
        kind = rng.randrange(3)
        if kind == 0 or not chars or at == len(chars):
            chars.insert(at, rng.choice(alphabet))
        elif kind == 1:
            del chars[at]
        else:
            chars[at] = rng.choice(alphabet)
    return "".join(chars)


@st.composite
def families(draw):
    """A few base texts and edited copies of them, so that scores near every
    cutoff occur, at lengths drawn across the kernels' boundaries."""
    rng = random.Random(draw(st.integers(0, 2**32)))
    alphabet = draw(st.sampled_from(ALPHABETS))
    texts = []
    for _ in range(draw(st.integers(1, 3))):
        base = "".join(rng.choices(alphabet, k=draw(st.sampled_from(LENGTHS))))
        texts.append(base)
        for _ in range(draw(st.integers(0, 3))):
            texts.append(edit(rng, base, alphabet, rng.choice([1, 2, 5, len(base) // 8 + 1])))
    rng.shuffle(texts)
    return texts


def cutoff_near(draw, scorer, matrix):
    """A real score, or one ulp beside it; for a distance, the integer bounds
    on either side."""
    score = draw(st.sampled_from(matrix.ravel().tolist()))
    if is_distance(scorer):
        return draw(st.sampled_from([score, max(0, score - 1), score + 1]))
    return draw(st.sampled_from([score, math.nextafter(score, 2.0), math.nextafter(score, -1.0)]))


def fill(scorer, cutoff):
    return cutoff + 1 if is_distance(scorer) else 0.0


@PRUNING
@given(families(), families(), st.sampled_from(SCORERS), st.data())
def test_cutoffs_never_change_a_score_on_any_path(queries, choices, scorer, data):
    matrix = model(scorer, queries, choices)
    if matrix.size == 0:
        return
    cutoff = cutoff_near(data.draw, scorer, matrix)
    kept = passes(scorer, matrix, cutoff)
    want_cdist = np.where(kept, matrix, fill(scorer, cutoff)).astype(matrix.dtype)
    want_topk = model_topk(scorer, matrix, 2, cutoff)
    before = batch._simd_path()
    try:
        for path in SUPPORTED:
            batch._limit_simd(path)
            assert same(batch.cdist(queries, choices, scorer=scorer, score_cutoff=cutoff), want_cdist), path
            indices, scores = batch.topk(queries, choices, scorer=scorer, k=2, score_cutoff=cutoff)
            assert indices.tolist() == want_topk[0].tolist(), path
            assert scores.tolist() == want_topk[1].tolist(), path
            i, j, s = batch.pairs(queries, choices, scorer=scorer, score_cutoff=cutoff)
            assert same(np.stack([i, j], axis=1), np.argwhere(kept)) and same(s, matrix[i, j]), path
    finally:
        batch._limit_simd(before)


MIXED = "abcé ßΣж日本😀\U0010ffff"


@PRUNING
@given(st.integers(0, 2**32), st.sampled_from(SCORERS), st.data())
def test_many_queries_against_choices_beyond_ascii(seed, scorer, data):
    """Enough queries for several lane blocks, so that the lanes read the
    choices' characters renumbered for the call; queries also hold
    characters that no choice has."""
    rng = random.Random(seed)
    bases = ["".join(rng.choices(MIXED, k=rng.choice([1, 3, 8, 15, 30, 64, 70]))) for _ in range(12)]
    queries = [edit(rng, rng.choice(bases), MIXED + "xyЯ\U0001f600", rng.randint(0, 3)) for _ in range(rng.randint(65, 140))]
    choices = [edit(rng, rng.choice(bases), MIXED, rng.randint(0, 3)) for _ in range(rng.randint(1, 30))]
    matrix = model(scorer, queries, choices)
    cutoff = cutoff_near(data.draw, scorer, matrix)
    want = np.where(passes(scorer, matrix, cutoff), matrix, fill(scorer, cutoff)).astype(matrix.dtype)
    before = batch._simd_path()
    try:
        for path in SUPPORTED:
            batch._limit_simd(path)
            assert same(batch.cdist(queries, choices, scorer=scorer), matrix), path
            assert same(batch.cdist(queries, choices, scorer=scorer, score_cutoff=cutoff, workers=2), want), path
    finally:
        batch._limit_simd(before)


@PRUNING
@given(families(), st.sampled_from(SCORERS), st.data(), st.sampled_from([1, 2]))
def test_self_join_scores_each_pair_as_the_single_call(texts, scorer, data, workers):
    texts += texts[: len(texts) // 2]  # equal texts, at other indices
    matrix = model(scorer, texts, texts)
    cutoff = cutoff_near(data.draw, scorer, matrix)
    want = [(a, b, matrix[a, b]) for a, b in zip(*np.nonzero(np.triu(passes(scorer, matrix, cutoff), 1)))]
    i, j, s = batch.pairs(texts, scorer=scorer, score_cutoff=cutoff, workers=workers)
    assert list(zip(i.tolist(), j.tolist(), s.tolist())) == [(a, b, float(v)) for a, b, v in want]


@pytest.mark.parametrize("scorer", SCORERS, ids=lambda s: s.__name__)
def test_long_records_with_cutoffs_equal_the_single_calls(scorer):
    """Whole records, 50 to 300 characters: queries too long for lanes keep
    their pattern across every choice, of any length on either side, and
    those of near lengths share one band of diagonals."""
    rng = random.Random(7)
    words = ["".join(rng.choices("abcdefghijklmnopqrstuvwxyzé", k=rng.randint(2, 9))) for _ in range(300)]
    records = [" ".join(rng.choices(words, k=rng.randint(8, 40))) for _ in range(40)]
    records += [edit(rng, r, "abcdefgh ", rng.randint(1, 12)) for r in records[:30]]
    records += [edit(rng, records[0], "xyzЖ ", k) for k in range(0, 64, 3)]  # one band's worth of near lengths
    matrix = model(scorer, records, records[::-1])
    before = batch._simd_path()
    try:
        for path in SUPPORTED:
            batch._limit_simd(path)
            for cutoff in ([4, 15, 40, 63, 64, 70] if is_distance(scorer) else [0.6, 0.8, 0.95]):
                kept = passes(scorer, matrix, cutoff)
                want = np.where(kept, matrix, fill(scorer, cutoff)).astype(matrix.dtype)
                got = batch.cdist(records, records[::-1], scorer=scorer, score_cutoff=cutoff, workers=2)
                assert same(got, want), (path, cutoff)
            assert same(batch.cdist(records, records[::-1], scorer=scorer), matrix), path
    finally:
        batch._limit_simd(before)


@pytest.mark.parametrize("queries", [1, 2, 5])
def test_weighted_ratio_keeps_every_result_past_its_plain_ratio_bound(queries):
    """Past 0.95 the blend is its plain ratio, so lengths alone skip choices:
    one query reads each choice as it meets it, several read them all first."""
    rng = random.Random(queries)
    words = ["anna", "smith", "jo", "de la cruz", "o'neil", "mc donald", "李", "zoë"]
    names = [" ".join(rng.choices(words, k=rng.randint(1, 3))) for _ in range(60)]
    names += [edit(rng, n, "abcz ", rng.randint(1, 2)) for n in names[:40]] + ["", " "]
    picked = names[:queries]
    matrix = model(ratio_weighted, picked, names)
    for cutoff in [0.0, 0.9, 0.95, math.nextafter(0.95, 1.0), *sorted(set(matrix.ravel()))[-4:]]:
        indices, scores = batch.topk(picked, names, scorer=ratio_weighted, k=2, score_cutoff=cutoff)
        want = model_topk(ratio_weighted, matrix, 2, cutoff)
        assert indices.tolist() == want[0].tolist() and scores.tolist() == want[1].tolist()
        got = batch.extract(picked[0], names, scorer=ratio_weighted, limit=3, score_cutoff=cutoff)
        row = sorted((-s, j) for j, s in enumerate(matrix[0]) if s >= cutoff)[:3]
        assert got == [(names[j], -s, j) for s, j in row]
