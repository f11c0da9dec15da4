"""kivo.batch on every vector path this processor runs. The private switch
(_limit_simd) narrows the kernels to the portable, AVX2 or AVX-512 path, and each
path gives the single calls' results, bit for bit, on texts around the lane
widths (16, 32 and 64 characters) in several scripts."""

import random

import pytest
from hypothesis import given
from hypothesis import strategies as st

import kivo
import kivo.edit as edit
import kivo.tokens as tokens

np = pytest.importorskip("numpy")
batch = pytest.importorskip("kivo.batch")

PATHS = ["portable", "avx2", "avx512"]
DISTANCES = [kivo.levenshtein_distance, edit.osa_distance, edit.indel_distance]
EDIT_SCORERS = [*DISTANCES, kivo.levenshtein_similarity, kivo.jaro_winkler_similarity,
                edit.osa_similarity, edit.indel_similarity, edit.lcs_similarity,
                tokens.ratio]  # fmt: skip
LENGTHS = [0, 1, 2, 15, 16, 17, 31, 32, 33, 63, 64, 65, 90]
ALPHABETS = ["ab", "abcdefghijklmnop", "aéßΣж日本", "a😀𐐷\U0010ffff日"]


def runs(path):
    before = batch._simd_path()
    try:
        batch._limit_simd(path)
        return batch._simd_path() == path
    finally:
        batch._limit_simd(before)


SUPPORTED = [p for p in PATHS if runs(p)]


@pytest.fixture
def restore_limit():
    before = batch._simd_path()
    yield
    batch._limit_simd(before)


@pytest.fixture(params=PATHS)
def path(request, restore_limit):
    if request.param not in SUPPORTED:
        pytest.skip(f"this processor does not run the {request.param} path")
    batch._limit_simd(request.param)
    return request.param


def is_distance(scorer):
    return scorer in DISTANCES


def boundary_texts(seed):
    """Texts at each length around the lane widths, and a few edits of each, so
    that small distances, ties and cutoffs at the boundary occur."""
    rng = random.Random(seed)
    out = []
    for alphabet in ALPHABETS:
        for length in LENGTHS:
            text = "".join(rng.choices(alphabet, k=length))
            out.append(text)
            for _ in range(rng.randrange(2)):
                chars = list(text) or ["x"]
                chars[rng.randrange(len(chars))] = rng.choice(alphabet + "x")
                out.append("".join(chars[: rng.choice([len(chars), len(chars) - 1, 64, 33])]))
    return out


def model(scorer, queries, choices):
    rows = [[scorer(a, b) for b in choices] for a in queries]
    return np.array(rows, dtype=np.int64 if is_distance(scorer) else np.float64)


def passes(scorer, score, cutoff):
    return score <= cutoff if is_distance(scorer) else score >= cutoff


def same(got, want):
    return got.shape == want.shape and got.tobytes() == want.astype(got.dtype).tobytes()


def test_the_switch_names_and_narrows_the_path(restore_limit):
    batch._limit_simd("avx512")
    best = batch._simd_path()
    assert best == SUPPORTED[-1]
    for wanted in PATHS:
        batch._limit_simd(wanted)
        assert batch._simd_path() == PATHS[min(PATHS.index(wanted), PATHS.index(best))]
    batch._limit_simd("portable")
    for bad, error in [("sse2", ValueError), ("AVX2", ValueError), ("", ValueError),
                       ("avx2\0", ValueError), (None, TypeError), (b"avx2", TypeError)]:  # fmt: skip
        with pytest.raises(error):
            batch._limit_simd(bad)
    assert batch._simd_path() == "portable"  # a refused name changes nothing
    assert not {"_simd_path", "_limit_simd"} & set(getattr(batch, "__all__", ()))


@pytest.mark.parametrize("scorer", EDIT_SCORERS, ids=lambda s: s.__name__)
def test_each_path_gives_the_single_calls_results(path, scorer):
    queries, choices = boundary_texts(1), boundary_texts(2)
    matrix = model(scorer, queries, choices)
    assert same(batch.cdist(queries, choices, scorer=scorer, workers=2), matrix)
    cutoff = 3 if is_distance(scorer) else 0.75
    sign = 1 if is_distance(scorer) else -1
    indices, scores = batch.topk(queries, choices, scorer=scorer, k=3, score_cutoff=cutoff)
    for row, got_indices, got_scores in zip(matrix, indices.tolist(), scores.tolist()):
        kept = sorted((sign * s, j) for j, s in enumerate(row) if passes(scorer, s, cutoff))[:3]
        assert got_indices == [j for _, j in kept] + [-1] * (3 - len(kept))
        assert got_scores[: len(kept)] == [row[j] for _, j in kept]
    i, j, s = batch.pairs(queries, choices, scorer=scorer, score_cutoff=cutoff, workers=2)
    want = np.argwhere(passes(scorer, matrix, cutoff))
    assert same(np.stack([i, j], axis=1), want) and same(s, matrix[i, j])


@pytest.mark.parametrize("scorer", EDIT_SCORERS, ids=lambda s: s.__name__)
def test_extract_on_each_path_is_the_sorted_single_calls(path, scorer):
    """One query against choices in lane blocks: every cutoff, ties to the
    lower index, equal choices found without a search."""
    choices = boundary_texts(4)
    choices += choices[::7]
    sign = 1 if is_distance(scorer) else -1
    for query in boundary_texts(5)[::5] + choices[::11]:
        scored = sorted((sign * scorer(query, c), j) for j, c in enumerate(choices))
        for cutoff in [None, sign * scored[0][0], sign * scored[len(scored) // 3][0]]:
            kept = [(choices[j], sign * s, j) for s, j in scored
                    if cutoff is None or passes(scorer, sign * s, cutoff)]  # fmt: skip
            got = batch.extract(query, choices, scorer=scorer, limit=3, score_cutoff=cutoff)
            assert got == kept[:3], (query, cutoff)
            assert batch.extract_one(query, choices, scorer=scorer, score_cutoff=cutoff) == (
                kept[0] if kept else None
            )


@given(
    st.lists(st.text(st.sampled_from("".join(ALPHABETS)), max_size=70), min_size=1, max_size=12),
    st.sampled_from(EDIT_SCORERS),
)
def test_every_path_agrees_on_random_texts(texts, scorer):
    matrix = model(scorer, texts, texts[::-1])
    before = batch._simd_path()
    try:
        for name in SUPPORTED:
            batch._limit_simd(name)
            assert same(batch.cdist(texts, texts[::-1], scorer=scorer), matrix), name
    finally:
        batch._limit_simd(before)


@pytest.mark.parametrize("num_hashes", [1, 15, 16, 17, 31, 32, 33, 130])
def test_minhash_signatures_on_each_path_equal_the_single_calls(path, num_hashes):
    texts = boundary_texts(3)
    want = [kivo.minhash_signature(t, 3, num_hashes) for t in texts]
    got = batch.minhash_signatures(texts, 3, num_hashes, workers=2)
    assert got.tolist() == want
