"""What no single result shows: memory and reference counts over many calls,
threads sharing objects, hostile arguments, huge texts, pickling."""

import ctypes
import gc
import inspect
import os
import pickle
import random
import resource
import subprocess
import sys
import threading
import tracemalloc

import pytest

import kivo
from measures import ROUTED, same

Pre, Flow = kivo.Preprocessor, kivo.KivoFlow
CALLS, WARMUP, ROUNDS = 3000, 300, 4
UNDER_ASAN = hasattr(ctypes.CDLL(None), "__asan_init")  # its quarantine keeps freed memory

# Made at run time, so that they are ordinary (mortal, uninterned) objects
# whose reference counts mean something; A and B have equal lengths.
A = "".join(["Ça\u0301 Σ the naïve 😀 cat\u3000sat ", str(12345)]) * 3
B = "".join(["ça Σ a naïve 😀 dog\u3000sat!!! ", str(54321)]) * 3
WORDS = ["".join(["ca", "t"]), "".join(["ha", "t"])]
NUM = 10**6 + 3  # not a cached small int
REAL = float(NUM) / 10**7
ARGS = {"a": A, "b": B, "text": A, "n": 4, "shingle_size": 3, "num_hashes": 16, "v": False,
        "words": WORDS, "max": NUM, "enable": True, "algo": "tfidf", "match_op": "gt",
        "match_val": REAL, "mismatch_op": "less_than", "mismatch_val": REAL, "op": "between",
        "val1": 0.0, "val2": REAL, "intent": "auto"}
P = Pre().with_remove_stopwords(True).with_stopwords(WORDS).with_max_length(NUM)
FLOW = Flow().preprocess(True).tier_1("levenshtein", "gt", REAL, "lt", 0).tier_2("bm25", "lt", 0, 0)


def rss_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * 4096


def assert_steady(call, watched):
    """Memory and reference counts stay put over CALLS calls. A leak grows in
    every round; a bounded interpreter cache stops growing once full, so a few
    rounds are allowed and the last must be flat (under a byte per call)."""
    for _ in range(WARMUP):
        call()
    gc.collect()
    refs, rss = [sys.getrefcount(obj) for obj in watched], rss_bytes()
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
            growth = tracemalloc.get_traced_memory()[0] - traced
            if growth < CALLS:
                break
    finally:
        tracemalloc.stop()
    assert growth < CALLS, f"Python memory grew by {growth} bytes"
    assert UNDER_ASAN or rss_bytes() - rss < 1 << 20
    assert [sys.getrefcount(obj) for obj in watched] == refs


def every_call():
    """(name, callable, *arguments) for every function, constructor and method."""
    for name in kivo.__all__:
        obj = getattr(kivo, name)
        if isinstance(obj, type):
            instance = P if obj is Pre else FLOW
            yield f"{name}()", obj
            yield f"repr({name})", repr, instance
            for method in (m for m in vars(obj) if not m.startswith("_")):
                f = getattr(instance, method)
                yield f"{name}.{method}", f, *[ARGS[p] for p in inspect.signature(f).parameters]
        else:
            yield name, obj, *[ARGS[p] for p in inspect.signature(obj).parameters]
    for algo in ROUTED:
        yield f"compare {algo}", Flow().tier_1(algo, "gt", REAL, "lt", REAL).compare, A, B
    for intent in ["names", "typos", "codes", "documents", "dedup", "deduplication"]:
        yield f"intent {intent}", Flow().compare_with_intent, intent, A, B
    yield "tuple of words", P.with_stopwords, tuple(WORDS)


CALLS_MADE = {name: (lambda f=f, a=args: f(*a)) for name, f, *args in every_call()}


@pytest.mark.parametrize("call", CALLS_MADE.values(), ids=CALLS_MADE.keys())
def test_calls_leak_nothing(call):
    assert_steady(call, [A, B, NUM, REAL, P, FLOW, Pre, Flow, *WORDS])


NUMPY_LIKE = type("bool_", (), {"__module__": "numpy"})()
SURROGATE = "".join(["abc", "\ud800"])
NOT_A_SEQUENCE = {"".join(["ca", "t"])}
BAD_INDEX = type("BadIndex", (), {"__index__": lambda s: {}[s]})()
FAILING = {
    "text of another type": lambda: kivo.levenshtein_distance(A, NUM),
    "float for an int": lambda: kivo.jaccard_similarity(A, B, REAL),
    "int for a bool": lambda: P.with_trim(NUM),
    "set for a list": lambda: P.with_stopwords(NOT_A_SEQUENCE),
    "non-str element": lambda: P.with_stopwords([A, NUM]),
    "bool-like without __bool__": lambda: P.with_lowercase(NUMPY_LIKE),
    "str for a float": lambda: FLOW.tier_1("bm25", "gt", A, "lt", REAL),
    "missing arguments": lambda: FLOW.compare_with_intent(A),
    "unexpected keyword": lambda: kivo.clean_text(text=A, txt=B),
    "negative int": lambda: kivo.jaccard_similarity(A, B, -NUM),
    "int too large for a float": lambda: FLOW.tier_2("bm25", "lt", 2**1024, REAL),
    "__index__ raising": lambda: kivo.minhash_signature(A, BAD_INDEX, 3),
    "lone surrogate": lambda: kivo.jaro_winkler_similarity(A, SURROGATE),
    "lone surrogate, read in place": lambda: kivo.hamming_distance(SURROGATE, "abcd"),
    "lone surrogate in a list": lambda: P.with_stopwords([A, SURROGATE]),
    "hamming lengths": lambda: kivo.hamming_similarity(A, B[:-1]),
    "unknown algorithm": lambda: FLOW.tier_1(A, "gt", REAL, "lt", REAL),
    "no tiers": lambda: Flow().compare(A, B),
    "router hamming lengths": lambda: FLOW.compare_with_intent("codes", A, B[:-1]),
    "zero window": lambda: kivo.jaccard_similarity(A, B, 0),
    "num_hashes beyond memory": lambda: kivo.minhash_similarity(A, B, 3, 2**63),
}


@pytest.mark.parametrize("call", FAILING.values(), ids=FAILING.keys())
def test_failures_leak_nothing(call):
    def swallowed():
        try:
            call()
        except BaseException:  # noqa: BLE001 - the failures are what is exercised
            return
        raise AssertionError("no failure")

    assert_steady(swallowed, [A, B, NUM, REAL, SURROGATE, NOT_A_SEQUENCE, BAD_INDEX, NUMPY_LIKE,
                              type(NUMPY_LIKE), kivo.PanicException, P, FLOW])


TEXTS = ["", "The  Cat sat\ton the MAT", "ΟΔΟΣ naïve e\u0301 😀\u3000日本", "karolin", "kathrin",
         "x" * 300 + " tail"]
# Many distinct terms with varied weights: summed in another order, this pair
# gives another last bit.
MANY_TERMS = (" ".join(f"w{i % 97} x{i % 13} y{i * i % 31}" for i in range(400)),
              " ".join(f"x{i % 11} w{i % 89} y{i % 7}" for i in range(300)))


def outcome(thunk):
    """The result, the error, or for a new object what it does."""
    try:
        out = thunk()
    except BaseException as error:  # noqa: BLE001 - errors are results here
        return type(error), str(error)
    if isinstance(out, Pre):
        return repr(out), out.process(TEXTS[2])
    return outcome(lambda: out.compare(TEXTS[1], TEXTS[3])) if isinstance(out, Flow) else out


def test_threads_sharing_objects_get_single_thread_results_bit_for_bit():
    work = list(CALLS_MADE.values()) + [lambda: kivo.tfidf_similarity(*MANY_TERMS)] * 20
    work += [lambda a=a, b=b, f=f: f(a, b) for a in TEXTS for b in TEXTS[::2]
             for f in (kivo.tfidf_similarity, FLOW.compare, kivo.bm25_similarity)]
    expected = [outcome(thunk) for thunk in work]
    barrier, mismatches, interval = threading.Barrier(8), [], sys.getswitchinterval()

    def worker(seed):
        order = random.Random(seed).sample(range(len(work)), len(work))
        barrier.wait()
        for _ in range(5):
            mismatches.extend(i for i in order if not same(outcome(work[i]), expected[i]))

    sys.setswitchinterval(1e-6)
    try:
        threads = [threading.Thread(target=worker, args=(seed,)) for seed in range(8)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
    finally:
        sys.setswitchinterval(interval)
    assert mismatches == []


def run_python(code, *args, **env):
    run = subprocess.run([sys.executable, "-c", code, *args], capture_output=True, text=True,
                         env=os.environ | env, timeout=120)
    assert run.returncode == 0, run.stderr
    return run.stdout


def test_tfidf_is_identical_across_processes():
    code = "import kivo, sys; print(kivo.tfidf_similarity(sys.argv[1], sys.argv[2]).hex())"
    for seed in ("1", "2"):
        out = run_python(code, *MANY_TERMS, PYTHONHASHSEED=seed)
        assert float.fromhex(out) == kivo.tfidf_similarity(*MANY_TERMS)


def test_first_uses_race_in_a_fresh_interpreter():
    # Many threads at once are first to need lazily made state: the name of
    # the Sequence type a rejected word list is reported against, and the
    # router's result templates.
    run_python("""if True:
        import sys, threading, kivo
        sys.setswitchinterval(1e-6)
        barrier, messages = threading.Barrier(16), []
        flow = kivo.KivoFlow().tier_1("jaccard_word", "gt", 0.5, "lt", 0.1)
        def worker():
            barrier.wait()
            messages.append(flow.compare("a b", "b a")["algorithm"])
            try:
                kivo.Preprocessor().with_stopwords({"a"})
            except TypeError as error:
                messages.append(str(error))
        threads = [threading.Thread(target=worker) for _ in range(16)]
        for t in threads: t.start()
        for t in threads: t.join()
        expected = ["jaccard_word", "'set' object is not an instance of 'Sequence'"] * 16
        assert sorted(messages) == sorted(expected), messages
    """)


def test_huge_texts():
    huge = "Hello  World, the\tcat\u3000sat " * (100_000_000 // 28)
    out = kivo.clean_text(huge)
    assert out.startswith("hello world, the cat sat hello") and out.endswith(" sat")
    assert P.with_max_length(12).process(huge) == "hello world,"
    other = huge[:-1] + "x"
    assert kivo.hamming_distance(huge, other) == 1
    assert kivo.hamming_similarity(huge, other) == 1.0 - 1 / len(huge)
    assert kivo.jaccard_word_similarity(huge, "Hello World,") == 2 / 5
    assert kivo.levenshtein_distance(huge, huge) == 0  # equal texts take a shortcut
    assert kivo.jaro_winkler_similarity(huge, huge) == kivo.jaccard_similarity(huge, huge, 3) == 1.0


@pytest.mark.parametrize("num_hashes", [2**40, 2**61, 2**64 - 1])
def test_num_hashes_beyond_memory_are_refused_up_front(num_hashes):
    if num_hashes * 16 <= os.sysconf("SC_PHYS_PAGES") * os.sysconf("SC_PAGE_SIZE"):
        pytest.skip("this machine could hold the signatures")
    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    message = rf"^num_hashes {num_hashes} is too large to fit in memory$"
    for call in (kivo.minhash_signature, lambda t, k, m: kivo.minhash_similarity(t, "x", k, m)):
        with pytest.raises(MemoryError, match=message):
            call("abc", 3, num_hashes)
        with pytest.raises(kivo.PanicException):  # a zero shingle size is reported first
            call("abc", 0, num_hashes)
    assert resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before < 64 * 1024  # KiB
    assert kivo.minhash_signature("abc", 3, 2) == [107385297314013898, 2242858558886249666]


# A str subclass that lies about everything Python-level code could ask.
WeirdStr = type("WeirdStr", (str,), {
    "__hash__": str.__hash__, "__len__": lambda s: 0, "__str__": lambda s: "zzz",
    "__eq__": lambda s, o: True, "__iter__": lambda s: iter("q"), "encode": lambda s, *a: b""})


def test_str_subclasses_are_read_for_their_characters():
    assert kivo.levenshtein_distance(WeirdStr("abc"), WeirdStr("abd")) == 1
    assert kivo.jaccard_word_similarity(WeirdStr("a b"), "a") == 0.5
    assert type(kivo.clean_text(WeirdStr("  AB  "))) is str
    flow = Flow().tier_1(WeirdStr("levenshtein"), WeirdStr("gt"), 0.5, "lt", 0.1)
    assert flow.compare_with_intent(WeirdStr("typos"), "ab", "ab")["score"] == 1.0
    assert Pre().with_remove_stopwords(True).with_stopwords([WeirdStr("cat")]).process("cat") == ""


def test_conversions_calling_back_into_kivo():
    class Reentrant:
        def __index__(self):
            assert kivo.levenshtein_distance("abc", "abd") == 1
            return 2

        def __float__(self):
            return Flow().tier_1("levenshtein", "gt", 0.5, "lt", 0.1).compare("a", "a")["score"] / 2

    assert kivo.jaccard_similarity("night", "nacht", Reentrant()) == 1 / 7
    flow = Flow().tier_1("levenshtein", "gt", Reentrant(), "lt", Reentrant())
    assert flow.compare("ab", "ac")["score"] == 0.5


@pytest.mark.parametrize(
    "call",
    [lambda: Pre.process(Flow(), "x"), lambda: Flow.compare(Pre(), "x", "y"),
     lambda: Flow.tier_1("levenshtein", "gt", 0.5, "lt", 0.1), lambda: Pre.__new__(Flow),
     lambda: Flow.__new__(int), lambda: object.__new__(Pre), lambda: setattr(Flow, "compare", None),
     lambda: setattr(Pre(), "lowercase", False)],
)
def test_foreign_selves_and_changes_are_refused(call):
    with pytest.raises((TypeError, AttributeError)):
        call()


@pytest.mark.parametrize("obj", [Flow().preprocess(True), Pre().with_stopwords(["a"])])
def test_objects_refuse_pickling_and_the_rest_pickles_by_name(obj):
    for protocol in (2, pickle.HIGHEST_PROTOCOL):
        with pytest.raises(TypeError, match=rf"^cannot pickle 'kivo.{type(obj).__name__}' object$"):
            pickle.dumps(obj, protocol=protocol)
    for name in [*kivo.__all__, "PanicException"]:
        assert pickle.loads(pickle.dumps(getattr(kivo, name))) is getattr(kivo, name)
    # A fault raised in a worker reaches the client as the same class.
    error = pickle.loads(pickle.dumps(kivo.PanicException("window size must be non-zero")))
    assert type(error) is kivo.PanicException and error.args == ("window size must be non-zero",)


def test_fuzz_seed_corpus_replays_cleanly():
    fuzz = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "fuzz")
    sys.path.insert(0, fuzz)
    try:
        import kivo_harness
    finally:
        sys.path.remove(fuzz)
    names = sorted(os.listdir(os.path.join(fuzz, "corpus")))
    assert names
    for name in names:
        with open(os.path.join(fuzz, "corpus", name), "rb") as f:
            kivo_harness.check(f.read())
