"""kivo.batch against the single calls: every score bit for bit, cutoffs at
their exact boundary, ties, padding, errors, threads, the released lock and
Ctrl-C."""

import _thread
import os
import random
import subprocess
import sys
import threading
import time
from concurrent.futures import ThreadPoolExecutor

import pytest

import kivo
import kivo.edit as edit
import kivo.tokens as tokens

np = pytest.importorskip("numpy")
batch = pytest.importorskip("kivo.batch")

FLOW = (
    kivo.KivoFlow()
    .preprocess(True)
    .tier_1("levenshtein", "gt", 0.9, "lt", 0.2)
    .tier_2("jaccard_word", "between", 0.3, 0.6)
)
SIMILARITIES = [
    kivo.levenshtein_similarity, kivo.jaro_winkler_similarity, kivo.jaccard_bigram_similarity,
    kivo.jaccard_trigram_similarity, kivo.jaccard_word_similarity,
    kivo.minhash_similarity_default, kivo.simhash_similarity_default, kivo.bm25_similarity,
    kivo.tfidf_similarity, FLOW,
    edit.osa_similarity, edit.damerau_levenshtein_similarity, edit.indel_similarity,
    edit.lcs_similarity, tokens.ratio, tokens.partial_ratio, tokens.token_sort_ratio,
    tokens.token_set_ratio, tokens.partial_token_sort_ratio, tokens.partial_token_set_ratio,
    tokens.weighted_ratio,
]  # fmt: skip
DISTANCES = [kivo.levenshtein_distance, edit.osa_distance, edit.damerau_levenshtein_distance,
             edit.indel_distance]  # fmt: skip
HAMMING = [kivo.hamming_distance, kivo.hamming_similarity]
# Lane and word boundaries of the kernels, and a few long texts.
LENGTHS = [0, 1, 7, 8, 9, 15, 16, 17, 31, 32, 33, 63, 64, 65, 120, 200]
ALPHABETS = ["ab", "abc de", "aéß Σ", "a😀𐐷 日"]


def single(scorer):
    return (lambda a, b: scorer.compare(a, b)["score"]) if scorer is FLOW else scorer


def is_distance(scorer):
    return scorer in (kivo.hamming_distance, *DISTANCES)


def texts(rng, n, lengths=LENGTHS):
    """Random texts over small alphabets (so they share characters), with
    near-duplicates so that high scores and ties occur."""
    out = []
    for _ in range(n):
        t = list(rng.choice(out)) if out and rng.random() < 0.3 else []
        if t:
            t[rng.randrange(len(t))] = rng.choice("axé")
        else:
            t = rng.choices(rng.choice(ALPHABETS), k=rng.choice(lengths))
        out.append("".join(t))
    return out


def model(scorer, queries, choices):
    f, dtype = single(scorer), np.int64 if is_distance(scorer) else np.float64
    rows = [[f(a, b) for b in choices] for a in queries]
    return np.array(rows, dtype=dtype).reshape(len(queries), len(choices))


def passes(scorer, score, cutoff):
    return cutoff is None or (score <= cutoff if is_distance(scorer) else score >= cutoff)


def model_topk(scorer, matrix, k, cutoff):
    sign = 1 if is_distance(scorer) else -1
    indices, scores = [], []
    for row in matrix:
        kept = sorted((sign * s, j) for j, s in enumerate(row) if passes(scorer, s, cutoff))[:k]
        kept += [(-sign, -1)] * (k - len(kept))
        indices.append([j for _, j in kept])
        scores.append([sign * s for s, _ in kept])
    return np.array(indices).reshape(-1, k), np.array(scores).reshape(-1, k)


def equal(a, b):
    return a.dtype == b.dtype and a.shape == b.shape and a.tobytes() == b.tobytes()


@pytest.mark.parametrize("scorer", SIMILARITIES + DISTANCES, ids=repr)
def test_every_operation_equals_the_single_calls(scorer):
    rng = random.Random(7)
    queries, choices = texts(rng, 24), texts(rng, 30)
    matrix = model(scorer, queries, choices)
    assert equal(batch.cdist(queries, choices, scorer=scorer, workers=2), matrix)
    assert equal(batch.cpdist(queries, choices[:24], scorer=scorer), np.diagonal(matrix).copy())
    cutoff = matrix[3, 5]  # a score that occurs: the boundary itself
    for k in (1, 3, 40):
        got = batch.topk(queries, choices, scorer=scorer, k=k, score_cutoff=cutoff, workers=2)
        want = model_topk(scorer, matrix, k, cutoff)
        assert equal(got[0], want[0]) and equal(got[1], want[1].astype(got[1].dtype))
    i, j, s = batch.pairs(queries, choices, scorer=scorer, score_cutoff=cutoff)
    want = [(a, b) for a in range(len(queries)) for b in range(len(choices))
            if passes(scorer, matrix[a, b], cutoff)]  # fmt: skip
    assert list(zip(i.tolist(), j.tolist())) == want and equal(s, matrix[i, j])
    self_matrix = model(scorer, queries, queries)
    i, j, s = batch.pairs(queries, scorer=scorer, score_cutoff=cutoff, workers=2)
    want = [(a, b) for a in range(len(queries)) for b in range(a + 1, len(queries))
            if passes(scorer, self_matrix[a, b], cutoff)]  # fmt: skip
    assert list(zip(i.tolist(), j.tolist())) == want and equal(s, self_matrix[i, j])


@pytest.mark.parametrize("scorer", SIMILARITIES + DISTANCES, ids=repr)
def test_cdist_cutoffs_keep_the_boundary_and_fill_the_rest(scorer):
    rng = random.Random(11)
    queries, choices = texts(rng, 12), texts(rng, 12)
    matrix = model(scorer, queries, choices)
    for cutoff in sorted(set(matrix.ravel().tolist()))[::3]:
        got = batch.cdist(queries, choices, scorer=scorer, score_cutoff=cutoff)
        fill = cutoff + 1 if is_distance(scorer) else 0.0
        kept = passes(scorer, matrix, cutoff)
        assert equal(got, np.where(kept, matrix, fill).astype(matrix.dtype))


def test_similarity_equal_to_the_cutoff_is_kept():
    got = batch.cdist(["Svne Allen"], ["Sven Allen"], scorer=kivo.levenshtein_similarity,
                      score_cutoff=0.8)  # fmt: skip
    assert got[0, 0] == kivo.levenshtein_similarity("Svne Allen", "Sven Allen") == 0.8


@pytest.mark.parametrize("scorer", HAMMING, ids=repr)
@pytest.mark.parametrize("length", [0, 3, 64, 65])
def test_hamming_on_equal_lengths(scorer, length):
    rng = random.Random(length)
    queries, choices = texts(rng, 9, [length]), texts(rng, 11, [length])
    matrix = model(scorer, queries, choices)
    assert equal(batch.cdist(queries, choices, scorer=scorer, workers=2), matrix)
    got = batch.topk(queries, choices, scorer=scorer, k=2)
    assert equal(got[1], model_topk(scorer, matrix, 2, None)[1].astype(got[1].dtype))


def test_ties_go_to_the_lower_index_and_missing_places_are_minus_one():
    choices = ["abd", "abc", "abc", "xyz", "abc"]
    indices, scores = batch.topk(["abc", "qqqqqq"], choices, scorer=kivo.levenshtein_distance,
                                 k=4, score_cutoff=1)  # fmt: skip
    assert indices.tolist() == [[1, 2, 4, 0], [-1, -1, -1, -1]]
    assert scores.tolist() == [[0, 0, 0, 1], [-1, -1, -1, -1]]
    indices, scores = batch.topk(["abc"], choices, scorer=kivo.jaro_winkler_similarity, k=3)
    assert indices.tolist() == [[1, 2, 4]] and scores.tolist() == [[1.0] * 3]
    indices, scores = batch.topk(["a"], [], scorer=kivo.jaro_winkler_similarity, k=2)
    assert indices.tolist() == [[-1, -1]] and scores.tolist() == [[-1.0, -1.0]]


@pytest.mark.parametrize(
    "call, shapes",
    [
        (lambda: batch.cdist([], ["a"], scorer=kivo.levenshtein_distance), [(0, 1)]),
        (lambda: batch.cdist(["a"], [], scorer=kivo.tfidf_similarity), [(1, 0)]),
        (lambda: batch.cpdist([], [], scorer=FLOW), [(0,)]),
        (lambda: batch.topk([], ["a"], scorer=kivo.bm25_similarity, k=3), [(0, 3), (0, 3)]),
        (lambda: batch.topk(["a"], ["a"], scorer=kivo.bm25_similarity, k=0), [(1, 0), (1, 0)]),
        # k=0 scores nothing, so nothing fails.
        (lambda: batch.topk(["abc", "d"], ["ab"], scorer=kivo.hamming_distance, k=0), [(2, 0)] * 2),
        (lambda: batch.topk(["a"], ["b", "c"], scorer=kivo.KivoFlow(), k=0), [(1, 0), (1, 0)]),
        (lambda: batch.pairs([], scorer=FLOW, score_cutoff=0.5), [(0,)] * 3),
        (lambda: batch.minhash_signatures([], 3, 4), [(0, 4)]),
        (lambda: batch.lsh_pairs(np.zeros((0, 4), np.uint64), bands=2, rows=2), [(0,)] * 2),
    ],
)
def test_empty_inputs(call, shapes):
    result = call()
    assert [a.shape for a in (result if isinstance(result, tuple) else [result])] == shapes


@pytest.mark.parametrize("dtype", ["float32", "float64", "int8", "int16", "int32", "int64", "uint8",
                                   "uint16", "uint32", "uint64"])  # fmt: skip
@pytest.mark.parametrize("workers", [1, 2])
def test_every_dtype_holds_what_numpy_would_convert(dtype, workers):
    q = ["kitten", "flaw", "", "abcdefgh", "ab"] * 30
    c = ["sitting", "lawn", "x", "hgfedcba", "ba"] * 30
    scorers = [kivo.levenshtein_distance] + [kivo.jaro_winkler_similarity] * dtype.startswith("f")
    for scorer in scorers:
        matrix = model(scorer, q, c)
        got = batch.cdist(q, c, scorer=scorer, dtype=dtype, workers=workers)
        assert equal(got, matrix.astype(dtype))
        got = batch.cpdist(q, c, scorer=scorer, dtype=dtype, workers=workers)
        assert equal(got, np.diagonal(matrix).astype(dtype))


def test_dtypes():
    q, c = ["kitten", "flaw", ""], ["sitting", "lawn", "x" * 300]
    lev, jw = model(kivo.levenshtein_distance, q, c), model(kivo.jaro_winkler_similarity, q, c)
    for scorer, want, dtype in [(kivo.levenshtein_distance, lev, "int32"), (kivo.levenshtein_distance, lev, np.uint16),
                                (kivo.levenshtein_distance, lev, "float32"), (kivo.jaro_winkler_similarity, jw, np.dtype("float32"))]:  # fmt: skip
        assert equal(batch.cdist(q, c, scorer=scorer, dtype=dtype), want.astype(dtype))
    got = batch.cdist(q, c, scorer=kivo.levenshtein_distance, dtype="uint8", score_cutoff=4)
    assert equal(got, np.minimum(lev, 5).astype(np.uint8))


@pytest.mark.parametrize(
    "call, error, message",
    [
        (dict(scorer=len), TypeError, "scorer must be one of kivo's two-text functions or a KivoFlow, not 'builtin_function_or_method'"),
        (dict(scorer=lambda a, b: 0.0), TypeError, "not 'function'"),
        (dict(scorer=kivo.jaccard_similarity), TypeError, "scorer must be"),
        (dict(), TypeError, "cdist() missing required keyword-only argument: 'scorer'"),
        (dict(scorer=kivo.levenshtein_similarity, dtype="int32"), TypeError, "similarity scores need a float dtype, not 'int32'"),
        (dict(scorer=kivo.levenshtein_distance, dtype="complex128"), TypeError, "dtype must be a native float or integer type, not 'complex128'"),
        (dict(scorer=kivo.levenshtein_distance, dtype="uint8"), ValueError, "dtype 'uint8' cannot hold distances up to 300"),
        (dict(scorer=kivo.levenshtein_distance, workers=0), ValueError, "workers must be -1"),
        (dict(scorer=kivo.levenshtein_distance, score_cutoff=-1), OverflowError, ""),
        (dict(scorer=kivo.levenshtein_distance, processor=str.lower), TypeError, "processor must be kivo.clean_text, kivo.clean_text_stopwords or a Preprocessor, not 'method_descriptor'"),
        (dict(scorer=kivo.hamming_distance), ValueError, "Strings must have equal length"),
    ],
)  # fmt: skip
def test_argument_errors(call, error, message):
    with pytest.raises(error) as info:
        batch.cdist(["a" * 300], ["b", "cd"], **call)
    assert message in str(info.value)


@pytest.mark.parametrize(
    "change, error",
    [
        (dict(queries="abc"), TypeError),
        (dict(choices=["\ud800"]), UnicodeEncodeError),
        (dict(scorer=len), TypeError),
        (dict(k=-1), OverflowError),
        (dict(score_cutoff="x"), TypeError),
        (dict(workers=0), ValueError),
        (dict(processor=str.lower), TypeError),
    ],
)
def test_topk_of_zero_still_checks_its_arguments(change, error):
    args = dict(queries=["abc", "d"], choices=["ab"], scorer=kivo.hamming_distance, k=0) | change
    queries, choices = args.pop("queries"), args.pop("choices")
    with pytest.raises(error):
        batch.topk(queries, choices, **args)


@pytest.mark.parametrize(
    "queries, choices, note, error",
    [
        ("abc", ["a"], "queries", "Can't extract `str` to `Vec`"),
        (["a"], {"a"}, "choices", "'set' object is not an instance of 'Sequence'"),
        (["a", 1], ["a"], "queries", "'int' object is not an instance of 'str'"),
        (["a"], ["\ud800"], "choices", "surrogates not allowed"),
    ],
)
def test_text_list_errors_name_their_argument(queries, choices, note, error):
    with pytest.raises((TypeError, UnicodeEncodeError)) as info:
        batch.cdist(queries, choices, scorer=kivo.levenshtein_distance)
    assert error in str(info.value) and info.value.__notes__ == [f"while processing '{note}'"]


def test_first_failing_pair_in_row_major_order_is_raised():
    # Unequal lengths fail inside the router's Hamming; equal lengths whose
    # score stays below the rule fail with "No tiers configured".
    flow = kivo.KivoFlow().tier_2("hamming", "gt", 0.5, 0.0)
    q, c = ["aaa", "aab", "abcd"] * 20, ["aab", "xyz", "aa"] * 20
    for queries, choices in (q, c), (q[2:], c), (c, q):
        with pytest.raises(ValueError) as want:
            [flow.compare(a, b) for a in queries for b in choices]
        with pytest.raises(ValueError) as got:
            batch.cdist(queries, choices, scorer=flow, workers=2)
        assert str(got.value) == str(want.value)
    with pytest.raises(ValueError, match="equal lengths"):
        batch.cpdist(["a"], [], scorer=kivo.levenshtein_distance)
    with pytest.raises(kivo.PanicException, match="window size must be non-zero"):
        batch.minhash_signatures(["ab"], 0, 4)


@pytest.mark.parametrize(
    "processor, clean",
    [
        (kivo.clean_text, kivo.clean_text),
        (kivo.clean_text_stopwords, kivo.clean_text_stopwords),
        (kivo.Preprocessor().with_stopwords(["the"]).with_remove_stopwords(True),
         kivo.Preprocessor().with_stopwords(["the"]).with_remove_stopwords(True).process),
    ],
)  # fmt: skip
@pytest.mark.parametrize("scorer", [kivo.levenshtein_distance, kivo.jaccard_word_similarity, FLOW])
def test_processors_run_once_per_text(processor, clean, scorer):
    q = ["The  Cat SAT", "naïve CAFÉ\u3000the end", ""]
    c = ["the cat sat", "Naïve café", "THE"]
    matrix = model(scorer, [clean(t) for t in q], [clean(t) for t in c])
    assert equal(batch.cdist(q, c, scorer=scorer, processor=processor), matrix)
    sig = batch.minhash_signatures(q, 2, 8, processor=processor)
    assert sig.tolist() == [kivo.minhash_signature(clean(t), 2, 8) for t in q]


def test_minhash_signatures_and_lsh_pairs():
    rng = random.Random(3)
    docs = texts(rng, 60, [20, 40])
    sig = batch.minhash_signatures(docs, 3, 12, workers=2)
    assert sig.dtype == np.uint64 and sig.tolist() == [kivo.minhash_signature(d, 3, 12) for d in docs]
    i, j = batch.lsh_pairs(sig, bands=4, rows=3)
    rows = sig.tolist()
    want = [(a, b) for a in range(60) for b in range(a + 1, 60)
            if any(rows[a][k:k + 3] == rows[b][k:k + 3] for k in range(0, 12, 3))]  # fmt: skip
    assert want and list(zip(i.tolist(), j.tolist())) == want
    with pytest.raises(ValueError, match="bands and rows"):
        batch.lsh_pairs(sig, bands=5, rows=3)


def test_shared_inputs_from_many_threads():
    rng = random.Random(5)
    queries, choices = texts(rng, 40), texts(rng, 40)
    want = batch.cdist(queries, choices, scorer=FLOW)
    with ThreadPoolExecutor(6) as pool:
        results = list(pool.map(lambda _: batch.cdist(queries, choices, scorer=FLOW, workers=2), range(6)))
    assert all(equal(r, want) for r in results)


def test_error_paths_keep_no_references():
    q = ["".join(["ab", str(n)]) for n in range(20)]
    c = q + ["".join(["x", "yz"])]
    calls = [
        lambda: batch.cdist(q, c, scorer=kivo.hamming_distance),
        lambda: batch.cdist(q, c + [1], scorer=kivo.levenshtein_distance),
        lambda: batch.topk(q, c, scorer=kivo.KivoFlow(), k=2),
        lambda: batch.pairs(q, scorer=kivo.levenshtein_similarity, score_cutoff="x"),
        lambda: batch.cdist(q, c, scorer=kivo.levenshtein_similarity, dtype="int8"),
    ]
    before = [sys.getrefcount(x) for x in (q, c, q[0], c[-1])]
    for call in calls * 200:
        with pytest.raises((TypeError, ValueError)):
            call()
    assert [sys.getrefcount(x) for x in (q, c, q[0], c[-1])] == before


LONG = ["".join(random.Random(n).choices("abcdef", k=2000)) for n in range(400)]


SHUFFLES = ["".join(random.Random(n).sample(LONG[0], 2000)) for n in range(1000)]


# cdist computes without the lock; extract_one's walk holds it, scoring one
# short choice at a time, and must still hand it round.
@pytest.mark.parametrize("call", [
    lambda: batch.cdist(LONG[:60], LONG[:60], scorer=kivo.levenshtein_distance, workers=1),
    lambda: batch.extract_one(LONG[0], SHUFFLES, scorer=edit.osa_distance),
], ids=["cdist", "extract_one"])  # fmt: skip
def test_other_threads_run_during_a_long_call(call):
    stamps, stop = [], threading.Event()

    def tick():
        while not stop.is_set():
            stamps.append(time.perf_counter())
            time.sleep(0.001)

    ticker = threading.Thread(target=tick)
    ticker.start()
    start = time.perf_counter()
    call()
    end = time.perf_counter()
    stop.set()
    ticker.join()
    # Held throughout, the lock would let the other thread run only at the edges.
    quarter = (end - start) / 4
    assert sum(start + quarter < s < end - quarter for s in stamps) >= 3


def test_ctrl_c_interrupts_a_long_call():
    timer = threading.Timer(0.2, _thread.interrupt_main)
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        batch.cdist(LONG, LONG, scorer=kivo.levenshtein_distance, workers=2)
    timer.join()
    # The module still works afterwards.
    assert batch.cdist(["a"], ["b"], scorer=kivo.levenshtein_distance).tolist() == [[1]]


# The main thread either sleeps (the call's thread notices the exit between
# its waits) or keeps the lock (the call's thread is waiting for it).
@pytest.mark.parametrize("workers, main", [(1, "time.sleep(0.3)"), (2, "while time.time() < end: pass")],
                         ids=["sleeping", "spinning"])  # fmt: skip
def test_interpreter_exit_during_a_call_on_a_daemon_thread(workers, main):
    code = f"""if True:
        import random, threading, time
        import numpy, kivo, kivo.batch as batch
        texts = ["".join(random.Random(n).choices("abcdef", k=2000)) for n in range(300)]
        started = threading.Event()
        def work():
            started.set()
            batch.cdist(texts, texts, scorer=kivo.levenshtein_distance, workers={workers})
        threading.Thread(target=work, daemon=True).start()
        started.wait()
        end = time.time() + 0.3
        {main}
        """
    env = dict(os.environ)
    if "ASAN_OPTIONS" in env:  # the abandoned thread's objects are never freed, by design
        env["ASAN_OPTIONS"] += ":detect_leaks=0"
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=env,
                         timeout=120)  # fmt: skip
    assert (run.returncode, run.stderr) == (0, "")
