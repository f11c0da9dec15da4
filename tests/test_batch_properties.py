"""kivo.batch on generated lists: every operation against plain models built
from the single calls, bit for bit and error for error, on one thread and on
many, with processors, narrow dtypes, MinHash signatures and LSH banding."""

import random

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import kivo
import strategies
from test_batch import DISTANCES, FLOW, SIMILARITIES, equal, is_distance, model_topk, passes

np = pytest.importorskip("numpy")
batch = pytest.importorskip("kivo.batch")

# Fails with the router's errors: unequal lengths, or a score no tier decides.
STRICT_FLOW = kivo.KivoFlow().tier_2("hamming", "gt", 0.5, 0.0)
SCORERS = [
    kivo.levenshtein_distance, kivo.levenshtein_similarity, kivo.jaro_winkler_similarity,
    kivo.hamming_distance, kivo.hamming_similarity, kivo.jaccard_bigram_similarity,
    kivo.jaccard_trigram_similarity, kivo.jaccard_word_similarity,
    kivo.minhash_similarity_default, kivo.simhash_similarity_default, kivo.bm25_similarity,
    kivo.tfidf_similarity, FLOW, STRICT_FLOW,
]  # fmt: skip
# kivo.edit's and kivo.tokens' measures, scored pair by pair, before the two flows.
SCORERS[-2:-2] = [s for s in SIMILARITIES + DISTANCES if s not in SCORERS]
SIMILARITY_SCORERS = [s for s in SCORERS if not is_distance(s)]
PROPERTY = settings(deadline=None, max_examples=80, suppress_health_check=[HealthCheck.too_slow])


def single(scorer):
    return (lambda a, b: scorer.compare(a, b)["score"]) if isinstance(scorer, kivo.KivoFlow) else scorer


def model(scorer, queries, choices):
    rows = [[single(scorer)(a, b) for b in choices] for a in queries]
    return np.array(rows, np.int64 if is_distance(scorer) else np.float64).reshape(len(queries), len(choices))


@st.composite
def two_lists(draw, surrogates=False):
    """Queries and choices with repeats (ties) and, half the time, one common
    length so that Hamming has pairs to score."""
    texts = draw(st.lists(strategies.texts(max_size=12, surrogates=surrogates), max_size=9))
    if texts:
        texts += draw(st.lists(st.sampled_from(texts), max_size=3))
        if draw(st.booleans()):
            size = len(texts[0])
            texts = [t[:size].ljust(size, "a") for t in texts]
    texts = draw(st.permutations(texts))
    split = draw(st.integers(0, len(texts)))
    return texts[:split], texts[split:]


def attempt(call):
    """call()'s result, or the type and message of what it raised."""
    try:
        return call()
    except (ValueError, UnicodeEncodeError) as error:
        return type(error), str(error)


def same(got, want):
    if isinstance(want, tuple) and isinstance(want[0], type):
        return got == want
    got, want = (got, want) if isinstance(want, tuple) else ((got,), (want,))
    return len(got) == len(want) and all(equal(g, w.astype(g.dtype)) for g, w in zip(got, want))


def cutoffs(draw, scores, allow_none=True):
    values = sorted(set(np.asarray(scores).ravel().tolist()))
    options = values + [None] * allow_none
    return draw(st.sampled_from(options)) if options else None


def model_cdist(scorer, matrix, cutoff):
    if cutoff is None:
        return matrix
    fill = cutoff + 1 if is_distance(scorer) else 0.0
    return np.where(passes(scorer, matrix, cutoff), matrix, fill).astype(matrix.dtype)


def model_pairs(scorer, matrix, cutoff, upper):
    kept = [(a, b) for a in range(matrix.shape[0]) for b in range(matrix.shape[1])
            if (b > a or not upper) and passes(scorer, matrix[a, b], cutoff)]  # fmt: skip
    i, j = (np.array([p[k] for p in kept], dtype=np.int64) for k in (0, 1))
    return i, j, matrix[i, j] if kept else np.zeros(0, matrix.dtype)


@PROPERTY
@given(lists=two_lists(), scorer=st.sampled_from(SCORERS), data=st.data())
def test_every_operation_equals_a_model_of_single_calls(lists, scorer, data):
    queries, choices = lists
    matrix = attempt(lambda: model(scorer, queries, choices))
    if isinstance(matrix, tuple):  # the first failing pair decides every call's error
        assert attempt(lambda: batch.cdist(queries, choices, scorer=scorer)) == matrix
        assert attempt(lambda: batch.topk(queries, choices, scorer=scorer, k=2)) == matrix
        cut = 0 if is_distance(scorer) else 0.0
        assert attempt(lambda: batch.pairs(queries, choices, scorer=scorer, score_cutoff=cut)) == matrix
    else:
        cutoff = cutoffs(data.draw, matrix)
        assert same(batch.cdist(queries, choices, scorer=scorer, score_cutoff=cutoff, workers=2),
                    model_cdist(scorer, matrix, cutoff))  # fmt: skip
        k = data.draw(st.integers(1, len(choices) + 1))
        got = batch.topk(queries, choices, scorer=scorer, k=k, score_cutoff=cutoff)
        assert same(got, model_topk(scorer, matrix, k, cutoff))
        if cutoff is not None:
            got = batch.pairs(queries, choices, scorer=scorer, score_cutoff=cutoff)
            assert same(got, model_pairs(scorer, matrix, cutoff, upper=False))
    n = min(len(queries), len(choices))
    diagonal = attempt(lambda: np.array([single(scorer)(a, b) for a, b in zip(queries[:n], choices[:n])],
                                        dtype=np.int64 if is_distance(scorer) else np.float64))  # fmt: skip
    assert same(attempt(lambda: batch.cpdist(queries[:n], choices[:n], scorer=scorer)), diagonal)
    self_pairs = [(a, b) for i, a in enumerate(queries) for b in queries[i + 1 :]]
    first = attempt(lambda: [single(scorer)(a, b) for a, b in self_pairs])
    if isinstance(first, tuple):
        cut = 0 if is_distance(scorer) else 0.0
        assert attempt(lambda: batch.pairs(queries, scorer=scorer, score_cutoff=cut, workers=2)) == first
    elif self_pairs:
        full = np.zeros((len(queries),) * 2, np.int64 if is_distance(scorer) else np.float64)
        full[np.triu_indices(len(queries), 1)] = first
        cutoff = cutoffs(data.draw, first, allow_none=False)
        got = batch.pairs(queries, scorer=scorer, score_cutoff=cutoff, workers=2)
        assert same(got, model_pairs(scorer, full, cutoff, upper=True))


@PROPERTY
@given(lists=two_lists(surrogates=True), scorer=st.sampled_from(SCORERS))
def test_lone_surrogates_raise_what_the_single_call_raises(lists, scorer):
    queries, choices = lists
    bad = [t for t in queries + choices if any("\ud800" <= c <= "\udfff" for c in t)]
    if not bad:
        return
    text, cut = bad[0], 0 if is_distance(scorer) else 0.5
    with pytest.raises(UnicodeEncodeError) as want:
        single(scorer)(text, text)
    for call in (
        lambda: batch.cdist(queries, choices, scorer=scorer),
        lambda: batch.topk(queries, choices, scorer=scorer, k=1),
        lambda: batch.pairs(queries, choices, scorer=scorer, score_cutoff=cut),
        lambda: batch.minhash_signatures(queries + choices, 3, 4),
    ):
        with pytest.raises(UnicodeEncodeError) as got:
            call()
        assert str(got.value) == str(want.value)
    assert got.value.__notes__ == ["while processing 'texts'"]


def names(seed, n, lengths=(5, 30)):
    rng = random.Random(seed)
    words = ["The", "a", "Anna", "Ólafur", "MÜLLER", "van", "der", "Σοφία", "Li", "O'Brien", "  "]
    out = []
    for _ in range(n):
        text = " ".join(rng.choices(words, k=8))[: rng.randint(*lengths)]
        out.append(rng.choice(out) if out and rng.random() < 0.2 else text)
    return out


# Enough pairs and characters for the work to be split across threads.
QUERIES, CHOICES = names(1, 90, (12, 40)), names(2, 90, (12, 40))
assert sum(map(len, QUERIES + CHOICES)) > 4096


@pytest.mark.parametrize("scorer", SCORERS, ids=repr)
def test_threads_give_the_single_thread_result(scorer):
    queries, choices = QUERIES, CHOICES
    if scorer in (kivo.hamming_distance, kivo.hamming_similarity, STRICT_FLOW):
        queries, choices = [t.ljust(40, ".") for t in queries], [t.ljust(40, ".") for t in choices]
    cut = 6 if is_distance(scorer) else 0.5
    calls = [
        lambda w: batch.cdist(queries, choices, scorer=scorer, workers=w),
        lambda w: batch.cpdist(queries, choices, scorer=scorer, workers=w),
        lambda w: batch.topk(queries, choices, scorer=scorer, k=5, score_cutoff=cut, workers=w),
        lambda w: batch.pairs(queries, scorer=scorer, score_cutoff=cut, workers=w),
        lambda w: batch.pairs(queries, choices, scorer=scorer, score_cutoff=cut, workers=w),
    ]
    for call in calls:
        want = attempt(lambda: call(1))
        for workers in (2, -1):
            assert same(attempt(lambda: call(workers)), want)


@pytest.mark.parametrize("late", ["No tiers configured", "Hamming requires equal-length strings"])
def test_threads_report_the_first_failing_pair_not_the_first_thread_to_fail(late):
    # Rows 0..69 all decide, row 70 fails one way and every later row the other.
    choices = ["a" * 39 + c for c in "abcdefghij" * 9]
    unequal, undecided = "a" * 41, "b" * 40
    first, rest = (unequal, undecided) if late.startswith("No") else (undecided, unequal)
    queries = ["a" * 40] * 70 + [first] + [rest] * 19
    with pytest.raises(ValueError) as want:
        model(STRICT_FLOW, queries, choices)
    for workers in (1, 2, -1):
        with pytest.raises(ValueError) as got:
            batch.cdist(queries, choices, scorer=STRICT_FLOW, workers=workers)
        assert str(got.value) == str(want.value) and late not in str(got.value)


PROCESSORS = [
    kivo.clean_text,
    kivo.clean_text_stopwords,
    kivo.Preprocessor().with_stopwords(["the", "a"]),
    kivo.Preprocessor().with_stopwords(["the", "a"]).with_remove_stopwords(True),
    kivo.Preprocessor().with_max_length(5),
]


@pytest.mark.parametrize("processor", PROCESSORS, ids=repr)
@pytest.mark.parametrize("scorer", [kivo.levenshtein_distance, kivo.jaro_winkler_similarity,
                                    kivo.jaccard_word_similarity, kivo.tfidf_similarity, FLOW], ids=repr)  # fmt: skip
def test_processors_on_threads_equal_single_calls_on_processed_texts(processor, scorer):
    clean = processor.process if isinstance(processor, kivo.Preprocessor) else processor
    queries, choices = [clean(t) for t in QUERIES], [clean(t) for t in CHOICES]
    matrix = model(scorer, queries, choices)
    assert equal(batch.cdist(QUERIES, CHOICES, scorer=scorer, workers=2, processor=processor), matrix)
    got = batch.topk(QUERIES, CHOICES, scorer=scorer, k=3, workers=-1, processor=processor)
    assert same(got, model_topk(scorer, matrix, 3, None))
    sig = batch.minhash_signatures(QUERIES, 2, 6, workers=2, processor=processor)
    assert sig.tolist() == [kivo.minhash_signature(t, 2, 6) for t in queries]


@PROPERTY
@given(lists=two_lists(), scorer=st.sampled_from(SIMILARITY_SCORERS[:-1]).filter(lambda s: s is not kivo.hamming_similarity))
def test_float32_rounds_the_float64_scores(lists, scorer):
    queries, choices = lists
    want = batch.cdist(queries, choices, scorer=scorer).astype(np.float32)
    assert equal(batch.cdist(queries, choices, scorer=scorer, dtype=np.float32), want)
    n = min(len(queries), len(choices))
    got = batch.cpdist(queries[:n], choices[:n], scorer=scorer, dtype="float32")
    assert equal(got, np.diagonal(want)[:n].copy())


@pytest.mark.parametrize("dtype", ["int32", "int16", "uint16", np.int8, "uint8"])
@pytest.mark.parametrize("cutoff", [None, 3, 100])
def test_narrow_integer_distances_equal_int64(dtype, cutoff):
    rng = random.Random(9)
    queries, choices = [t[:100] for t in names(3, 20, (0, 126))], names(4, 15, (0, 90))
    queries += ["".join(rng.choices("ab", k=100))]
    want = batch.cdist(queries, choices, scorer=kivo.levenshtein_distance, score_cutoff=cutoff)
    got = batch.cdist(queries, choices, scorer=kivo.levenshtein_distance, score_cutoff=cutoff, dtype=dtype)
    assert equal(got, want.astype(dtype))
    got = batch.cpdist(queries[:15], choices, scorer=kivo.levenshtein_distance, score_cutoff=cutoff, dtype=dtype)
    assert equal(got, np.diagonal(want)[:15].astype(dtype))


@pytest.mark.parametrize("dtype, fits", [("int8", 127), ("uint8", 255), ("int16", 32767)])
@pytest.mark.parametrize("char", ["x", "é", "😀"])
def test_the_dtype_bound_is_checked_before_any_pair(dtype, fits, char):
    lev, message = kivo.levenshtein_distance, f"dtype '{dtype}' cannot hold distances up to {fits + 1}"
    assert batch.cdist([char * fits], ["", "a"], scorer=lev, dtype=dtype).max() == fits
    assert batch.cdist(["a"], [char * 40000], scorer=lev, dtype=dtype, score_cutoff=fits - 1).max() == fits
    for call in (
        lambda: batch.cdist([char * (fits + 1)], ["", "a"], scorer=lev, dtype=dtype),
        lambda: batch.cpdist(["a"], [char * 40000], scorer=lev, dtype=dtype, score_cutoff=fits),
        # Unequal lengths: scoring any pair would raise Hamming's error instead.
        lambda: batch.cdist([char * (fits + 1)], ["", "a"], scorer=kivo.hamming_distance, dtype=dtype),
    ):
        with pytest.raises(ValueError) as info:
            call()
        assert str(info.value) == message


@pytest.mark.parametrize("scorer", SIMILARITY_SCORERS, ids=repr)
@pytest.mark.parametrize("dtype", ["int64", "int16", np.uint8])
def test_integer_dtypes_are_refused_for_similarities(scorer, dtype):
    name = np.dtype(dtype).name
    for call in (batch.cdist, batch.cpdist):
        with pytest.raises(TypeError, match=f"similarity scores need a float dtype, not '{name}'"):
            call(["a", "b"], ["a", "c"], scorer=scorer, dtype=dtype)


@PROPERTY
@given(
    texts=st.lists(strategies.texts(max_size=30), max_size=6),
    shingle_size=st.sampled_from([0, 1, 2, 3, 5, 31, 64, 2**64 - 1]),
    num_hashes=st.sampled_from([0, 1, 2, 7, 64, 129]),
)
def test_minhash_signatures_equal_the_single_signatures(texts, shingle_size, num_hashes):
    try:
        want = [kivo.minhash_signature(t, shingle_size, num_hashes) for t in texts]
    except kivo.PanicException as error:
        with pytest.raises(kivo.PanicException, match=str(error)):
            batch.minhash_signatures(texts, shingle_size, num_hashes, workers=2)
        return
    got = batch.minhash_signatures(texts, shingle_size, num_hashes, workers=2)
    assert got.dtype == np.uint64 and got.shape == (len(texts), num_hashes) and got.tolist() == want


def test_minhash_signatures_too_large_raise_the_single_calls_memory_error():
    with pytest.raises(MemoryError) as want:
        kivo.minhash_signature("abc", 3, 2**62)
    with pytest.raises(MemoryError) as got:
        batch.minhash_signatures(["abc"], 3, 2**62)
    assert str(got.value) == str(want.value)


@st.composite
def signatures(draw):
    bands, rows = draw(st.integers(1, 5)), draw(st.integers(1, 4))
    width = bands * rows + draw(st.integers(0, 3))
    sigs = draw(st.lists(st.lists(st.integers(0, 2), min_size=width, max_size=width), min_size=1, max_size=14))
    for _ in range(draw(st.integers(0, 6)) if len(sigs) > 1 else 0):  # planted band copies
        a, b = draw(st.integers(0, len(sigs) - 1)), draw(st.integers(0, len(sigs) - 1))
        start = draw(st.integers(0, bands - 1)) * rows + draw(st.integers(-1, 1))
        start = max(0, min(start, width - rows))
        sigs[b][start : start + rows] = sigs[a][start : start + rows]
    big = draw(st.sampled_from([0, 2**61 - 2, 2**64 - 1]))  # values beyond int64
    values = [0, 1, 2] if big == 0 else [0, big, big - 1]
    return [[values[v] for v in s] for s in sigs], bands, rows


@PROPERTY
@given(case=signatures(), as_array=st.booleans())
def test_lsh_pairs_equal_a_model_of_banding(case, as_array):
    sigs, bands, rows = case
    want = [(a, b) for a in range(len(sigs)) for b in range(a + 1, len(sigs))
            if any(sigs[a][k : k + rows] == sigs[b][k : k + rows] for k in range(0, bands * rows, rows))]  # fmt: skip
    arg = np.array(sigs, dtype=np.uint64) if as_array else sigs
    i, j = batch.lsh_pairs(arg, bands=bands, rows=rows, workers=2)
    assert i.dtype == j.dtype == np.int64 and list(zip(i.tolist(), j.tolist())) == want
