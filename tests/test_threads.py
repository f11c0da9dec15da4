"""Many threads sharing one Preprocessor and one KivoFlow get exactly the
results one thread gets, errors included."""

import math
import os
import random
import subprocess
import sys
import textwrap
import threading

import pytest

import kivo

THREADS = 8
ROUNDS = 10

TEXTS = [
    "",
    "The  Cat sat\ton the MAT",
    "the cat sat on the hat",
    "ΟΔΟΣ naïve e\u0301 😀\u3000日本",
    "karolin",
    "kathrin",
    "x" * 300 + " tail",
]

SHARED_P = (
    kivo.Preprocessor()
    .with_remove_stopwords(True)
    .with_stopwords(["cat", "hat"])
    .with_max_length(20)
)
SHARED_FLOW = (
    kivo.KivoFlow()
    .preprocess(True)
    .tier_1("jaro_winkler", "gt", 0.95, "lt", 0.2)
    .tier_2("tfidf", "between", 0.3, 0.7)
)
TIER_2_ONLY = kivo.KivoFlow().tier_2("hamming", "gt", 0.5, 0.0)


def describe_preprocessor(p):
    return repr(p), [p.process(t) for t in TEXTS[:4]]


PAIR_MEASURES = [
    kivo.levenshtein_distance, kivo.levenshtein_similarity, kivo.jaro_winkler_similarity,
    kivo.hamming_similarity, kivo.hamming_distance, kivo.jaccard_bigram_similarity,
    kivo.jaccard_trigram_similarity, kivo.jaccard_word_similarity,
    kivo.minhash_similarity_default, kivo.simhash_similarity_default, kivo.bm25_similarity,
    kivo.tfidf_similarity, SHARED_FLOW.compare, TIER_2_ONLY.compare,
    lambda a, b: kivo.jaccard_similarity(a, b, len(a) % 4),
    lambda a, b: kivo.minhash_similarity(a, b, 2, 16),
    lambda a, b: kivo.simhash_similarity(a, b, 3),
]  # fmt: skip
TEXT_FUNCTIONS = [
    kivo.clean_text, kivo.clean_text_stopwords, SHARED_P.process, kivo.simhash_fingerprint_default,
    lambda t: kivo.minhash_signature(t, 2, 16), lambda t: kivo.simhash_fingerprint(t, 3),
]  # fmt: skip
SWITCHES = ["with_lowercase", "with_collapse_whitespace", "with_trim", "with_normalize_unicode",
            "with_remove_stopwords"]
INTENTS = ["names", "typos", "codes", "documents", "dedup", "auto", "bogus"]


def calls():
    """(name, thunk) for every function and method, over every pair of texts."""
    p = SHARED_P
    out = [
        ("with_stopwords", lambda: describe_preprocessor(p.with_stopwords(["sat", "the"]))),
        ("with_max_length", lambda: describe_preprocessor(p.with_max_length(0))),
        ("repr Preprocessor", lambda: repr(p)),
        ("preprocess", lambda: SHARED_FLOW.preprocess(False).compare("A b", "a b")),
        ("tier_1", lambda: SHARED_FLOW.tier_1("bm25", "lt", 0.5, "gt", 0.5).compare("a", "a")),
        ("tier_2", lambda: SHARED_FLOW.tier_2("hamming", "gt", 0.0, 0.0).compare("ab", "ba")),
        ("bad tier_1", lambda: SHARED_FLOW.tier_1("nope", "gt", 0.5, "lt", 0.5)),
        ("repr KivoFlow", lambda: repr(SHARED_FLOW)),
    ]
    for switch in SWITCHES:
        out.append((switch, lambda s=switch: describe_preprocessor(getattr(p, s)(False))))
    for a in TEXTS:
        out += [(repr(f), lambda f=f, a=a: f(a)) for f in TEXT_FUNCTIONS]
        for b in TEXTS[::2]:
            out += [(repr(f), lambda f=f, a=a, b=b: f(a, b)) for f in PAIR_MEASURES]
            out += [
                (intent, lambda a=a, b=b, i=intent: SHARED_FLOW.compare_with_intent(i, a, b))
                for intent in INTENTS
            ]
    return out


def outcome(thunk):
    try:
        return ("ok", thunk())
    except BaseException as error:  # noqa: BLE001 - errors are results here
        return ("error", type(error), str(error))


def same(x, y):
    """Equal, except that TF-IDF sums may differ in their last bits."""
    if isinstance(x, float) and isinstance(y, float):
        return x == y or (math.isnan(x) and math.isnan(y)) or abs(x - y) <= 1e-12
    if isinstance(x, dict) and isinstance(y, dict):
        return list(x) == list(y) and all(same(x[k], y[k]) for k in x)
    if isinstance(x, (tuple, list)) and isinstance(y, (tuple, list)):
        return type(x) is type(y) and len(x) == len(y) and all(map(same, x, y))
    return x == y


@pytest.fixture
def fast_switching():
    old = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    yield
    sys.setswitchinterval(old)


def test_shared_objects_give_single_thread_results(fast_switching):
    work = calls()
    expected = [outcome(thunk) for _, thunk in work]
    barrier = threading.Barrier(THREADS)
    mismatches = []
    calls_made = []

    def worker(seed):
        order = list(range(len(work)))
        random.Random(seed).shuffle(order)
        barrier.wait()
        for _ in range(ROUNDS):
            for i in order:
                got = outcome(work[i][1])
                if not same(got, expected[i]):
                    mismatches.append((work[i][0], got, expected[i]))
        calls_made.append(ROUNDS * len(order))

    threads = [threading.Thread(target=worker, args=(seed,)) for seed in range(THREADS)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert mismatches == []
    assert calls_made == [ROUNDS * len(work)] * THREADS


def test_builders_racing_on_one_receiver(fast_switching):
    """Every thread derives from the same receiver; none sees another's change."""
    base = kivo.Preprocessor()
    barrier = threading.Barrier(THREADS)
    seen = [None] * THREADS

    def worker(i):
        barrier.wait()
        results = set()
        for _ in range(200):
            p = base.with_lowercase(i % 2 == 0).with_stopwords([f"w{i}"])
            p = p.with_remove_stopwords(True)
            results.add(p.process(f"W{i} w{i} keep"))
        seen[i] = results

    threads = [threading.Thread(target=worker, args=(i,)) for i in range(THREADS)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert None not in seen
    for i, results in enumerate(seen):
        assert results == ({"keep"} if i % 2 == 0 else {f"W{i} keep"})
    assert repr(base) == "Preprocessor(lowercase=true, stopwords=false)"
    assert base.process(" A ") == "a"


def test_first_uses_race_in_a_fresh_interpreter():
    """Lazily made state (the Sequence name for a rejected word list, the
    router's result templates) is first touched by many threads at once."""
    script = textwrap.dedent(
        """
        import sys, threading
        sys.setswitchinterval(1e-6)
        import kivo
        barrier = threading.Barrier(16)
        flow = kivo.KivoFlow().tier_1("jaccard_word", "gt", 0.5, "lt", 0.1)
        messages = []
        def worker():
            barrier.wait()
            messages.append(str(flow.compare("a b", "a b")))
            for _ in range(50):
                try:
                    kivo.Preprocessor().with_stopwords({"a"})
                except TypeError as error:
                    messages.append(str(error))
        threads = [threading.Thread(target=worker) for _ in range(16)]
        for t in threads: t.start()
        for t in threads: t.join()
        assert set(messages) == {
            "'set' object is not an instance of 'Sequence'",
            "{'score': 1.0, 'tier': 1, 'algorithm': 'jaccard_word', 'fallback_called': False, "
            "'fallback_data': ''}",
        }, set(messages)
        assert len(messages) == 16 * 51
        print("ok")
        """
    )
    result = subprocess.run(
        [sys.executable, "-c", script], capture_output=True, text=True, env=dict(os.environ),
        timeout=120,
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "ok"
