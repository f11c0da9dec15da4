"""Every callable and every error path, called thousands of times, keeps memory
and reference counts steady.

Python-level allocations (result objects, exceptions, notes, messages) are
watched with tracemalloc; native allocations with the resident set size,
except under AddressSanitizer, whose quarantine keeps freed memory resident
(LeakSanitizer checks native leaks there instead).
"""

import ctypes
import gc
import sys
import tracemalloc

import pytest

import kivo
from router_helpers import ALGORITHMS

CALLS = 3000
WARMUP = 300
ROUNDS = 4
# Less than one byte per call: a single leaked object per call (16 bytes or
# more) over CALLS calls exceeds it.
MAX_TRACED_GROWTH = CALLS
MAX_RSS_GROWTH = 1 << 20

UNDER_ASAN = hasattr(ctypes.CDLL(None), "__asan_init")

# Texts made at run time, so that they are ordinary (mortal, uninterned)
# objects whose reference counts mean something.
A = "".join(["Ça\u0301 Σ the naïve 😀 cat\u3000sat ", str(12345)]) * 3
B = "".join(["ça Σ a naïve 😀 dog\u3000sat ", str(54321)]) * 3
SHORT_A, SHORT_B = "".join(["kar", "olin"]), "".join(["kat", "hrin"])
WORDS = ["".join(["ca", "t"]), "".join(["ha", "t"])]
NUM = 10**6 + 3  # not a cached small int
REAL = float(NUM) / 10**7


def rss_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * 4096


def swallow(call):
    def run():
        try:
            call()
        except BaseException:  # noqa: BLE001 - the errors are what is exercised
            pass

    return run


def assert_steady(call, watched=()):
    """Memory and reference counts stay put over CALLS calls.

    A leak grows in every round of calls; a bounded interpreter cache (such
    as the method cache, whose slots depend on object addresses) stops growing
    once full. So a few rounds are allowed, and the last must be flat."""
    for _ in range(WARMUP):
        call()
    gc.collect()
    refs = [sys.getrefcount(obj) for obj in watched]
    rss = rss_bytes()
    tracemalloc.start()
    try:
        for _ in range(WARMUP):
            call()
        for _ in range(ROUNDS):
            gc.collect()
            traced = tracemalloc.get_traced_memory()[0]
            for _ in range(CALLS):
                call()
            gc.collect()
            traced_growth = tracemalloc.get_traced_memory()[0] - traced
            if traced_growth < MAX_TRACED_GROWTH:
                break
    finally:
        tracemalloc.stop()
    rss_growth = rss_bytes() - rss
    assert traced_growth < MAX_TRACED_GROWTH, f"Python memory grew by {traced_growth} bytes"
    if not UNDER_ASAN:
        assert rss_growth < MAX_RSS_GROWTH, f"resident memory grew by {rss_growth} bytes"
    assert [sys.getrefcount(obj) for obj in watched] == refs


FUNCTION_CALLS = {
    "levenshtein_distance": lambda: kivo.levenshtein_distance(A, B),
    "levenshtein_similarity": lambda: kivo.levenshtein_similarity(A, B),
    "jaro_winkler_similarity": lambda: kivo.jaro_winkler_similarity(A, B),
    "hamming_similarity": lambda: kivo.hamming_similarity(SHORT_A, SHORT_B),
    "hamming_distance": lambda: kivo.hamming_distance(SHORT_A, SHORT_B),
    "jaccard_similarity": lambda: kivo.jaccard_similarity(A, B, 4),
    "jaccard_bigram_similarity": lambda: kivo.jaccard_bigram_similarity(A, B),
    "jaccard_trigram_similarity": lambda: kivo.jaccard_trigram_similarity(A, B),
    "jaccard_word_similarity": lambda: kivo.jaccard_word_similarity(A, B),
    "minhash_signature": lambda: kivo.minhash_signature(A, 3, 64),
    "minhash_similarity": lambda: kivo.minhash_similarity(A, B, 3, 16),
    "minhash_similarity_default": lambda: kivo.minhash_similarity_default(A, B),
    "simhash_fingerprint": lambda: kivo.simhash_fingerprint(A, 2),
    "simhash_fingerprint_default": lambda: kivo.simhash_fingerprint_default(A),
    "simhash_similarity": lambda: kivo.simhash_similarity(A, B, 5),
    "simhash_similarity_default": lambda: kivo.simhash_similarity_default(A, B),
    "bm25_similarity": lambda: kivo.bm25_similarity(A, B),
    "tfidf_similarity": lambda: kivo.tfidf_similarity(A, B),
    "clean_text": lambda: kivo.clean_text(A),
    "clean_text_stopwords": lambda: kivo.clean_text_stopwords(A),
}

P = kivo.Preprocessor()
P_FULL = P.with_remove_stopwords(True).with_stopwords(WORDS).with_max_length(NUM)
PREPROCESSOR_CALLS = {
    "Preprocessor()": lambda: kivo.Preprocessor(),
    "with_lowercase": lambda: P.with_lowercase(False),
    "with_collapse_whitespace": lambda: P.with_collapse_whitespace(False),
    "with_trim": lambda: P.with_trim(False),
    "with_normalize_unicode": lambda: P.with_normalize_unicode(False),
    "with_remove_stopwords": lambda: P.with_remove_stopwords(True),
    "with_stopwords": lambda: P.with_stopwords(WORDS),
    "with_stopwords(tuple)": lambda: P.with_stopwords(tuple(WORDS)),
    "with_max_length": lambda: P.with_max_length(NUM),
    "process": lambda: P_FULL.process(A),
    "repr": lambda: repr(P_FULL),
}

FLOW = kivo.KivoFlow().preprocess(True).tier_1("levenshtein", "gt", REAL, "lt", 0.0)
FLOW_FULL = FLOW.tier_2("tfidf", "between", 0.0, REAL)
INTENTS = ["names", "typos", "codes", "documents", "dedup", "deduplication", "auto"]


def every_tier_1():
    for algo, _, _ in ALGORITHMS:
        kivo.KivoFlow().tier_1(algo, "gt", REAL, "less_than", REAL).compare(SHORT_A, SHORT_B)


def every_intent():
    for intent in INTENTS:
        FLOW.compare_with_intent(intent, SHORT_A, SHORT_B)


FLOW_CALLS = {
    "KivoFlow()": lambda: kivo.KivoFlow(),
    "preprocess": lambda: FLOW.preprocess(False),
    "tier_1": lambda: FLOW.tier_1("bm25", "greater_than", REAL, "lt", REAL),
    "tier_2": lambda: FLOW.tier_2("jaccard_word", "lt", REAL, REAL),
    "compare (fallback)": lambda: FLOW_FULL.compare(A, B),
    "compare (every algorithm)": every_tier_1,
    "compare_with_intent (every intent)": every_intent,
    "repr": lambda: repr(FLOW_FULL),
}


@pytest.mark.parametrize("call", FUNCTION_CALLS.values(), ids=FUNCTION_CALLS.keys())
def test_module_functions(call):
    assert_steady(call, [A, B, SHORT_A, SHORT_B])


@pytest.mark.parametrize("call", PREPROCESSOR_CALLS.values(), ids=PREPROCESSOR_CALLS.keys())
def test_preprocessor_methods(call):
    assert_steady(call, [A, NUM, kivo.Preprocessor, P, P_FULL, *WORDS])


@pytest.mark.parametrize("call", FLOW_CALLS.values(), ids=FLOW_CALLS.keys())
def test_kivoflow_methods(call):
    assert_steady(call, [A, B, REAL, kivo.KivoFlow, FLOW, FLOW_FULL])


class Index:
    def __index__(self):
        raise RuntimeError("no index")


def fake_numpy_bool():
    return type("bool_", (), {"__module__": "numpy"})()


NUMPY_LIKE = fake_numpy_bool()
SURROGATE = "".join(["abc", "\ud800"])
NOT_A_SEQUENCE = {"".join(["ca", "t"])}
BAD_INDEX = Index()
HUGE = 2**64 + NUM

ERROR_CALLS = {
    # TypeError, in each of its forms
    "text of another type": lambda: kivo.levenshtein_distance(A, NUM),
    "float for an int": lambda: kivo.jaccard_similarity(A, B, REAL),
    "int for a bool": lambda: P.with_trim(NUM),
    "str for a list": lambda: P.with_stopwords(A),
    "set for a list": lambda: P.with_stopwords(NOT_A_SEQUENCE),
    "non-str element": lambda: P.with_stopwords([A, NUM]),
    "bool-like without __bool__": lambda: P.with_lowercase(NUMPY_LIKE),
    "str for a float": lambda: FLOW.tier_1("bm25", "gt", A, "lt", REAL),
    "missing arguments": lambda: FLOW.compare_with_intent(A),
    "too many arguments": lambda: kivo.hamming_distance(A, B, A),
    "unexpected keyword": lambda: kivo.clean_text(text=A, txt=B),
    "multiple values": lambda: kivo.levenshtein_distance(A, a=B),
    "constructor arguments": lambda: kivo.KivoFlow(A),
    "constructor keywords": lambda: kivo.Preprocessor(x=NUM),
    # errors raised by Python's own conversions
    "negative int": lambda: kivo.jaccard_similarity(A, B, -NUM),
    "int of 2**64 or more": lambda: P.with_max_length(HUGE),
    "int too large for a float": lambda: FLOW.tier_2("bm25", "lt", 2**1024, REAL),
    "__index__ raising": lambda: kivo.minhash_signature(A, BAD_INDEX, 3),
    "lone surrogate": lambda: kivo.jaro_winkler_similarity(A, SURROGATE),
    "lone surrogate in a list": lambda: P.with_stopwords([A, SURROGATE]),
    # ValueError
    "hamming lengths": lambda: kivo.hamming_similarity(A, B),
    "unknown algorithm": lambda: FLOW.tier_1(A, "gt", REAL, "lt", REAL),
    "unknown intent": lambda: FLOW.compare_with_intent(A, A, B),
    "no tiers": lambda: kivo.KivoFlow().compare(A, B),
    "router hamming lengths": lambda: FLOW.compare_with_intent("codes", A, B),
    # PanicException and MemoryError
    "zero window": lambda: kivo.jaccard_similarity(A, B, 0),
    "num_hashes beyond memory": lambda: kivo.minhash_similarity(A, B, 3, 2**63),
}


@pytest.mark.parametrize("call", ERROR_CALLS.values(), ids=ERROR_CALLS.keys())
def test_error_paths(call):
    with pytest.raises(BaseException):
        call()
    watched = [A, B, NUM, REAL, SURROGATE, NOT_A_SEQUENCE, BAD_INDEX, NUMPY_LIKE,
               kivo.PanicException, type(NUMPY_LIKE), P, FLOW]
    assert_steady(swallow(call), watched)
