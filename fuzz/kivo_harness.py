"""One fuzz input -> one checked call into kivo.

`check(data)` decodes the bytes into a choice of callable and its arguments
(hostile text, arbitrary integers and floats, sometimes an argument of the
wrong type), calls kivo, and checks the outcome against what the call must do:
either the exact exception the input calls for, or a result that satisfies the
callable's invariants (ranges, symmetry, agreement with a plain-Python model or
with the module functions). Anything else raises AssertionError.

The plain-Python models come from tests/models.py, shared with the test
suite, which also replays the seed corpus; fuzz/fuzz.py drives it with atheris.
"""

from __future__ import annotations

import math
import os
import struct
import sys

import kivo
import kivo.edit as edit
import kivo.tokens as tokens

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests"))
import models  # noqa: E402
from models import DEFAULT_STOPWORDS, MASK64, PRIME61, WHITESPACE  # noqa: E402

sys.path.pop(0)

import batch_harness  # noqa: E402 - beside this file
import lsh_index_harness  # noqa: E402 - beside this file
import phonetic_harness  # noqa: E402 - beside this file

# Pieces that stress UTF-8 handling and the character classes: every
# whitespace code point, near-whitespace, NUL and controls, combining marks,
# case-mapping specials, astral characters, stopwords, ASCII punctuation.
PALETTE = (
    list("abcxyzABCXYZ019")
    + sorted(WHITESPACE)
    + ["\x00", "\x01", "\x1f", "\x7f", "\x80", "\x84", "\u180e", "\u200b", "\u200d", "\ufeff"]
    + ["\u0301", "\u0307", "\u0308", "\u0345", "\u034f", "e\u0301", "\u00e9", "\u212b", "\u00c5"]
    + ["\u03a3", "\u03c3", "\u03c2", "\u0130", "\u0131", "\u00df", "\u1e9e", "\ufb01", "\u0149"]
    + ["\U0001f600", "\U00010437", "\U000105d2", "\U000105c9", "\U0010ffff", "\ufffd", "\uffff"]
    + ["\u1100\u1161", "\uac00", "\u0915\u094d", "\u05d0", "\u0627\u0644"]
    + ["the", "The", "and", "of", "cat", "hat", "don't", "it's"]
    + list("!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~")
    + ["\u00ab", "\u00bb", "\u2019", "\u2026"]
)
SURROGATES = ["\ud800", "\udbff", "\udc00", "\udfff", "\ud83d"]

ALGORITHMS = {
    "levenshtein": ("levenshtein", kivo.levenshtein_similarity),
    "jaro_winkler": ("jaro_winkler", kivo.jaro_winkler_similarity),
    "hamming": ("hamming", kivo.hamming_similarity),
    "jaccard_bigram": ("jaccard_bigram", kivo.jaccard_bigram_similarity),
    "jaccard_trigram": ("jaccard_trigram", kivo.jaccard_trigram_similarity),
    "jaccard_word": ("jaccard_word", kivo.jaccard_word_similarity),
    "minhash_default": ("minhash", kivo.minhash_similarity_default),
    "simhash_default": ("simhash", kivo.simhash_similarity_default),
    "bm25": ("bm25", kivo.bm25_similarity),
    "tfidf": ("tfidf", kivo.tfidf_similarity),
}
NEAR_ALGORITHMS = ["", "Levenshtein", " bm25", "minhash", "simhash", "jaccard", "jaro-winkler"]
GREATER = ("gt", "greater_than")
LESS = ("lt", "less_than")
NEAR_OPS = ["", "GT", ">", "ge", "gte", "between ", "greater-than"]
INTENTS = {
    "names": "jaro_winkler",
    "typos": "levenshtein",
    "codes": "hamming",
    "documents": "bm25",
    "dedup": "simhash_default",
    "deduplication": "simhash_default",
}
NEAR_INTENTS = ["auto", "Names", "name", "typo", "document", "dedupe", ""]
SPECIAL_FLOATS = [math.nan, -math.nan, math.inf, -math.inf, 0.0, -0.0, 0.5, 1.0, -1.0, 5e-324,
                  1e308]
HUGE_INTS = [2**32, 2**63, MASK64, MASK64 - 1]
MAX_TEXT = 1500
RESULT_KEYS = ["score", "tier", "algorithm", "fallback_called", "fallback_data"]


class StrSub(str):
    pass


class IntSub(int):
    pass


class Reader:
    """Deterministic decisions drawn from the fuzz input; zeros once it runs out."""

    def __init__(self, data: bytes):
        self.data = data
        self.pos = 0

    def byte(self) -> int:
        if self.pos >= len(self.data):
            return 0
        self.pos += 1
        return self.data[self.pos - 1]

    def below(self, n: int) -> int:
        if n <= 256:
            return self.byte() % n
        return (self.byte() | self.byte() << 8 | self.byte() << 16) % n

    def pick(self, items):
        return items[self.below(len(items))]

    def chance(self, in_256: int) -> bool:
        return self.byte() < in_256

    def text(self, surrogates: bool) -> str:
        parts = []
        for _ in range(self.below(24)):
            kind = self.byte()
            if kind < 150:
                parts.append(self.pick(PALETTE))
            elif kind < 215:
                code = self.below(0x110000)
                if 0xD800 <= code < 0xE000 and not surrogates:
                    code = 0xFFFD
                parts.append(chr(code))
            elif kind < 235:
                parts.append(self.pick(PALETTE) * (1 + self.below(MAX_TEXT)))
            elif surrogates:
                parts.append(self.pick(SURROGATES))
            else:
                parts.append(self.pick(PALETTE))
        # Bounded so that the quadratic measures stay fast.
        return "".join(parts)[:MAX_TEXT]

    def uint(self, small: int) -> int:
        kind = self.byte()
        if kind < 200:
            return self.below(small + 1)
        if kind < 230:
            return self.pick(HUGE_INTS) if small > 256 else self.below(small + 1)
        return IntSub(self.below(small + 1))

    def real(self) -> float:
        kind = self.byte()
        if kind < 100:
            return self.pick(SPECIAL_FLOATS)
        if kind < 200:
            return self.below(1001) / 1000.0
        raw = bytes(self.byte() for _ in range(8))
        return struct.unpack("<d", raw)[0]


# --- expected conversions ---------------------------------------------------

TEXT, UINT, REAL, FLAG, TEXTS = "text", "uint", "real", "flag", "texts"


def conversion_error(kind: str, value):
    """The exception class converting `value` raises, or None."""
    if kind == TEXT:
        if not isinstance(value, str):
            return TypeError
        return UnicodeEncodeError if has_surrogate(value) else None
    if kind == UINT:
        if isinstance(value, int):
            return None if 0 <= value <= MASK64 else OverflowError
        return TypeError
    if kind == REAL:
        if isinstance(value, float):
            return None
        if isinstance(value, int):
            return None if abs(value) < 2**1024 else OverflowError
        return TypeError
    if kind == FLAG:
        return None if value is True or value is False else TypeError
    if kind == TEXTS:
        if isinstance(value, str):
            return TypeError
        if not isinstance(value, (list, tuple)):
            return TypeError
        for item in value:
            error = conversion_error(TEXT, item)
            if error is not None:
                return error
        return None
    raise AssertionError(kind)


def has_surrogate(text: str) -> bool:
    return any("\ud800" <= ch <= "\udfff" for ch in text)


class BadIndex:
    def __index__(self):
        raise RuntimeError("no index")


class BadFloat:
    def __float__(self):
        raise RuntimeError("no float")


class WrongIndex:
    def __index__(self):
        return "7"


class WrongFloat:
    def __float__(self):
        return "0.5"


def lying_lists():
    class Lying(list):
        def __len__(self):
            return 2**62

    class Short(list):
        def __len__(self):
            return 0

    class FailingIter(list):
        def __iter__(self):
            raise RuntimeError("no iteration")

    return [(Lying(["a", "b"]), None), (Short(["a"]), None), (FailingIter(["a"]), RuntimeError)]


# Arguments that must fail conversion, with the exception each one raises.
HOSTILE = {
    TEXT: [(None, TypeError), (1, TypeError), (b"x", TypeError), (1.5, TypeError),
           (["a"], TypeError), (object(), TypeError), ("\ud800", UnicodeEncodeError)],
    UINT: [(None, TypeError), (-1, OverflowError), (2**64, OverflowError), (1.5, TypeError),
           ("3", TypeError), (BadIndex(), RuntimeError), (WrongIndex(), TypeError),
           (-(2**70), OverflowError)],
    REAL: [(None, TypeError), ("0.5", TypeError), (b"1", TypeError), (2**1024, OverflowError),
           (BadFloat(), RuntimeError), (WrongFloat(), TypeError), ([], TypeError)],
    FLAG: [(None, TypeError), (0, TypeError), (1, TypeError), ("yes", TypeError),
           (1.0, TypeError)],
    TEXTS: [("ab", TypeError), (StrSub("ab"), TypeError), ({"a"}, TypeError), (1, TypeError),
            (None, TypeError), ([1], TypeError), (["a", "\udfff"], UnicodeEncodeError),
            (iter(["a"]), TypeError), ({"a": 1}, TypeError)]
    + [(value, error) for value, error in lying_lists() if error is not None],
}


class Call:
    """Binds and calls one callable, checking argument conversion failures.

    Returns (True, result) when every argument converts; (False, None) after
    checking the conversion error an unconvertible argument must raise. Other
    exceptions propagate to the caller, which knows whether they are expected.
    """

    def __init__(self, r: Reader, fn, params):
        self.r, self.fn, self.params = r, fn, params

    def __call__(self, *values):
        r = self.r
        values = list(values)
        forced = {}
        if r.chance(12):
            i = r.below(len(values))
            values[i], forced[i] = r.pick(HOSTILE[self.params[i][1]])
        expected = None
        for i, ((name, kind), value) in enumerate(zip(self.params, values)):
            error = forced[i] if i in forced else conversion_error(kind, value)
            if error is not None:
                expected = (error, name)
                break
        by_keyword = r.below(len(values) + 1)
        args = values[:by_keyword]
        kwargs = {name: v for (name, _), v in zip(self.params[by_keyword:], values[by_keyword:])}
        if expected is None:
            return True, self.fn(*args, **kwargs)
        error_class, name = expected
        try:
            self.fn(*args, **kwargs)
        except BaseException as error:  # noqa: BLE001 - checked below
            assert type(error) is error_class, (
                f"{self.fn.__name__}: {type(error).__name__}: {error} "
                f"(expected {error_class.__name__} for '{name}')"
            )
            assert getattr(error, "__notes__", None) == [f"while processing '{name}'"], error
            return False, None
        raise AssertionError(f"{self.fn.__name__} accepted a bad '{name}': {values!r}")


def raises(call, args, error_class, message=None):
    """Calls `call` (a Call) and checks it raises exactly this error, unless an
    argument failed conversion first."""
    try:
        ok, _ = call(*args)
    except BaseException as error:  # noqa: BLE001 - checked below
        assert type(error) is error_class, f"{type(error).__name__}: {error}"
        if message is not None:
            assert str(error) == message, str(error)
        return
    assert not ok, f"expected {error_class.__name__} {message!r}"


def in_unit(x: float) -> bool:
    return 0.0 <= x <= 1.0


# --- checks per callable ----------------------------------------------------


def lev_model_bounds(a: str, b: str, d: int):
    assert abs(len(a) - len(b)) <= d <= max(len(a), len(b)), (a, b, d)
    assert (d == 0) == (a == b)


def check_levenshtein(r, a, b):
    ok, d = Call(r, kivo.levenshtein_distance, [("a", TEXT), ("b", TEXT)])(a, b)
    if not ok:
        return
    assert type(d) is int
    lev_model_bounds(a, b, d)
    assert kivo.levenshtein_distance(b, a) == d
    s = kivo.levenshtein_similarity(a, b)
    m = max(len(a), len(b))
    assert s == (1.0 if m == 0 else 1.0 - d / m), (s, d, m)
    assert kivo.levenshtein_similarity(b, a) == s
    if len(a) + len(b) < 40:
        assert d == models.levenshtein_distance(a, b)


def check_jaro_winkler(r, a, b):
    ok, s = Call(r, kivo.jaro_winkler_similarity, [("a", TEXT), ("b", TEXT)])(a, b)
    if not ok:
        return
    assert type(s) is float and in_unit(s), s
    if a == b:
        assert s == 1.0
    elif not a or not b:
        assert s == 0.0


def check_hamming(r, a, b):
    if r.chance(128) and len(b) != len(a):
        b = (b + a)[: len(a)] if len(b + a) >= len(a) else b
    fn = kivo.hamming_distance if r.chance(128) else kivo.hamming_similarity
    call = Call(r, fn, [("a", TEXT), ("b", TEXT)])
    if len(a) != len(b) and not has_surrogate(a + b):
        raises(call, (a, b), ValueError, "Strings must have equal length")
        return
    ok, value = call(a, b)
    if not ok:
        return
    if fn is kivo.hamming_distance:
        assert value == models.hamming_distance(a, b) == kivo.hamming_distance(b, a)
    else:
        assert value == models.hamming_similarity(a, b), value


def check_jaccard(r, a, b):
    n = r.uint(300) if r.chance(20) else r.uint(8)
    if r.chance(60):
        b = a
    which = r.below(4)
    if which == 0:
        call = Call(r, kivo.jaccard_similarity, [("a", TEXT), ("b", TEXT), ("n", UINT)])
        args = (a, b, n)
    else:
        fn = [None, kivo.jaccard_bigram_similarity, kivo.jaccard_trigram_similarity,
              kivo.jaccard_word_similarity][which]
        call = Call(r, fn, [("a", TEXT), ("b", TEXT)])
        args = (a, b)
        n = {1: 2, 2: 3, 3: None}[which]
    if n == 0 and a != b and not has_surrogate(a + b) and which == 0:
        raises(call, args, kivo.PanicException, "window size must be non-zero")
        return
    ok, s = call(*args)
    if not ok:
        return
    assert type(s) is float and in_unit(s), s
    if n is None:
        expected = models.jaccard_words(a, b)
        assert s == expected, (s, expected)
        assert kivo.jaccard_word_similarity(b, a) == s
        return
    if a == b:
        assert s == 1.0
        return
    if len(a) + len(b) < 2000:
        assert s == models.jaccard(a, b, n), (s, n)
    assert kivo.jaccard_similarity(b, a, n) == s


def check_minhash(r, a, b):
    k = r.uint(6) if r.chance(230) else r.pick(HUGE_INTS)
    m = r.uint(160) if r.chance(250) else 0
    if r.chance(60):
        b = a
    if r.chance(128):
        call = Call(r, kivo.minhash_signature, [("text", TEXT), ("shingle_size", UINT),
                                                ("num_hashes", UINT)])
        if k == 0 and not has_surrogate(a):
            raises(call, (a, k, m), kivo.PanicException, "window size must be non-zero")
            return
        ok, sig = call(a, k, m)
        if not ok:
            return
        assert type(sig) is list and len(sig) == m
        assert all(type(v) is int and 0 <= v < PRIME61 for v in sig)
        if m > 1:
            assert kivo.minhash_signature(a, k, m - 1) == sig[:-1]
        return
    if r.chance(64):
        call = Call(r, kivo.minhash_similarity_default, [("a", TEXT), ("b", TEXT)])
        k, m, args = 3, 128, (a, b)
    else:
        call = Call(r, kivo.minhash_similarity, [("a", TEXT), ("b", TEXT), ("shingle_size", UINT),
                                                 ("num_hashes", UINT)])
        args = (a, b, k, m)
    if k == 0 and not has_surrogate(a + b):
        raises(call, args, kivo.PanicException, "window size must be non-zero")
        return
    ok, s = call(*args)
    if not ok:
        return
    assert type(s) is float
    if m == 0:
        assert math.isnan(s)
        return
    assert in_unit(s) and round(s * m) / m == s, s
    if a == b:
        assert s == 1.0
    sa, sb = kivo.minhash_signature(a, k, m), kivo.minhash_signature(b, k, m)
    assert s == sum(x == y for x, y in zip(sa, sb)) / m
    assert kivo.minhash_similarity(b, a, k, m) == s


def check_simhash(r, a, b):
    k = r.uint(6) if r.chance(230) else r.pick(HUGE_INTS)
    if r.chance(60):
        b = a
    what = r.below(4)
    if what == 0:
        call = Call(r, kivo.simhash_fingerprint, [("text", TEXT), ("shingle_size", UINT)])
        args = (a, k)
    elif what == 1:
        call = Call(r, kivo.simhash_fingerprint_default, [("text", TEXT)])
        args, k = (a,), 4
    elif what == 2:
        call = Call(r, kivo.simhash_similarity, [("a", TEXT), ("b", TEXT), ("shingle_size", UINT)])
        args = (a, b, k)
    else:
        call = Call(r, kivo.simhash_similarity_default, [("a", TEXT), ("b", TEXT)])
        args, k = (a, b), 4
    texts = args[0] if what < 2 else args[0] + args[1]
    if k == 0 and not has_surrogate(texts):
        raises(call, args, kivo.PanicException, "window size must be non-zero")
        return
    ok, value = call(*args)
    if not ok:
        return
    if what < 2:
        assert type(value) is int and 0 <= value <= MASK64
        if len(a) < k or (what == 1 and len(a) < 4):
            assert value == models.fnv1a64(a)
        return
    assert type(value) is float and in_unit(value) and (value * 64).is_integer(), value
    fa, fb = kivo.simhash_fingerprint(a, k), kivo.simhash_fingerprint(b, k)
    assert value == 1.0 - bin(fa ^ fb).count("1") / 64
    if a == b:
        assert value == 1.0
    assert kivo.simhash_similarity(b, a, k) == value


def has_terms(text: str) -> bool:
    return bool(models.tokenize_terms(text))


def check_terms(r, a, b):
    if r.chance(60):
        b = a
    fn = kivo.bm25_similarity if r.chance(128) else kivo.tfidf_similarity
    ok, s = Call(r, fn, [("a", TEXT), ("b", TEXT)])(a, b)
    if not ok:
        return
    assert type(s) is float and not math.isnan(s)
    if fn is kivo.bm25_similarity:
        assert in_unit(s), s
        if not has_terms(a):
            assert s == 0.0
        elif a == b:
            assert s == 1.0, s
        return
    assert -0.0 <= s <= 1.0 + 1e-12, s
    assert abs(kivo.tfidf_similarity(b, a) - s) <= 1e-12
    if not has_terms(a) and not has_terms(b):
        assert s == 1.0
    elif not has_terms(a) or not has_terms(b):
        assert s == 0.0
    elif a == b:
        assert abs(s - 1.0) <= 1e-12, s


def check_cleaners(r, a, _b):
    stop = r.chance(128)
    fn = kivo.clean_text_stopwords if stop else kivo.clean_text
    ok, out = Call(r, fn, [("text", TEXT)])(a)
    if not ok:
        return
    assert type(out) is str
    assert out == (kivo.Preprocessor().with_remove_stopwords(stop).process(a))
    assert out == out.strip("".join(WHITESPACE)) and "  " not in out
    assert not any(ch in WHITESPACE and ch != " " for ch in out)
    if stop:
        assert not any(t in DEFAULT_STOPWORDS for t in out.split(" "))


def check_preprocessor(r, a, _b):
    p = kivo.Preprocessor()
    switches = {"lowercase": True, "collapse_whitespace": True, "trim": True,
                "normalize_unicode": True, "remove_stopwords": False}
    words: list = []
    limit = 0
    for _ in range(r.below(9)):
        step = r.below(7)
        if step < 5:
            name = list(switches)[step]
            v = r.chance(128)
            ok, q = Call(r, getattr(p, "with_" + name), [("v", FLAG)])(v)
            if ok:
                switches[name] = v
        elif step == 5:
            candidate = [r.text(r.chance(10)) for _ in range(r.below(4))]
            if r.chance(64):
                candidate = tuple(candidate)
            ok, q = Call(r, p.with_stopwords, [("words", TEXTS)])(candidate)
            if ok:
                words = list(candidate)
        else:
            v = r.uint(1000)
            ok, q = Call(r, p.with_max_length, [("max", UINT)])(v)
            if ok:
                limit = v
        if ok:
            assert type(q) is kivo.Preprocessor and q is not p
            p = q
    assert repr(p) == "Preprocessor(lowercase={}, stopwords={})".format(
        str(switches["lowercase"]).lower(), str(switches["remove_stopwords"]).lower())
    ok, out = Call(r, p.process, [("text", TEXT)])(a)
    if not ok:
        return
    assert type(out) is str and len(out.encode()) <= (limit or len(out.encode()))
    if not switches["normalize_unicode"] and not switches["lowercase"]:
        active = (set(words) or DEFAULT_STOPWORDS) if switches["remove_stopwords"] else None
        full = models.preprocess(a, False, False, switches["collapse_whitespace"], switches["trim"],
                                 active, limit)
        assert out == full, (out, full)
    elif limit == 0:
        if switches["lowercase"]:
            assert out.lower() == out, out
        if switches["remove_stopwords"]:
            active = set(words) if words else DEFAULT_STOPWORDS
            assert out == out.strip("".join(WHITESPACE)) and "  " not in out
            assert not any(t in active for t in out.split(" ") if t)


def algorithm_name(r) -> str:
    return r.pick(list(ALGORITHMS)) if r.chance(230) else r.pick(NEAR_ALGORITHMS)


def threshold_op(r, between: bool) -> str:
    if r.chance(20):
        return r.pick(NEAR_OPS)
    ops = GREATER + LESS + (("between",) if between else ())
    return r.pick(ops)


def run_model(algo: str, a: str, b: str):
    """(score, reported name) as the module functions give them, or the error."""
    name, fn = ALGORITHMS[algo]
    if algo == "hamming" and len(a) != len(b):
        return ValueError("Algorithm error: Hamming requires equal-length strings")
    return fn(a, b), name


def holds(op: str, v1: float, v2: float, s: float) -> bool:
    if op in GREATER:
        return s > v1
    if op in LESS:
        return s < v1
    return v1 <= s <= v2


def check_result(result, tier: int, name: str, score: float):
    assert type(result) is dict and list(result) == RESULT_KEYS, result
    assert result["tier"] == tier and type(result["tier"]) is int, (result, tier)
    assert result["algorithm"] == name, (result, name)
    assert result["fallback_called"] is False and result["fallback_data"] == ""
    got = result["score"]
    assert type(got) is float
    assert got == score or (math.isnan(got) and math.isnan(score)), (got, score)


def check_flow(r, a, b):
    flow = kivo.KivoFlow()
    t1 = t2 = None
    clean = False
    for _ in range(r.below(5)):
        step = r.below(3)
        if step == 0:
            v = r.chance(128)
            ok, q = Call(r, flow.preprocess, [("enable", FLAG)])(v)
            if ok:
                clean = v
        elif step == 1:
            cfg = (algorithm_name(r), threshold_op(r, r.chance(10)), r.real(),
                   threshold_op(r, r.chance(10)), r.real())
            params = [("algo", TEXT), ("match_op", TEXT), ("match_val", REAL),
                      ("mismatch_op", TEXT), ("mismatch_val", REAL)]
            q = expect_config(r, flow.tier_1, params, cfg, [(0,), (1, False), (3, False)])
            ok = q is not None
            if ok:
                t1 = cfg
        else:
            cfg = (algorithm_name(r), threshold_op(r, True), r.real(), r.real())
            params = [("algo", TEXT), ("op", TEXT), ("val1", REAL), ("val2", REAL)]
            q = expect_config(r, flow.tier_2, params, cfg, [(0,), (1, True)])
            ok = q is not None
            if ok:
                t2 = cfg
        if ok:
            assert type(q) is kivo.KivoFlow and q is not flow and repr(q) == "KivoFlow()"
            flow = q
    if r.chance(100):
        check_intent(r, flow, clean, a, b)
        return
    call = Call(r, flow.compare, [("a", TEXT), ("b", TEXT)])
    if has_surrogate(a + b):
        call(a, b)
        return
    A, B = (kivo.clean_text(a), kivo.clean_text(b)) if clean else (a, b)
    expected = None
    if t1 is not None:
        first = run_model(t1[0], A, B)
        if isinstance(first, Exception):
            expected = first
        else:
            s, name = first
            if (t1[1] in GREATER and s > t1[2]) or (t1[3] in LESS and s < t1[4]):
                expected = (1, name, s)
    if expected is None and t2 is not None:
        second = run_model(t2[0], A, B)
        if isinstance(second, Exception):
            expected = second
        else:
            s, name = second
            if holds(t2[1], t2[2], t2[3], s):
                expected = (2, name, s)
    if expected is None:
        if t1 is None:
            expected = ValueError("Router configuration error: No tiers configured")
        else:
            s, name = run_model(t1[0], A, B)
            expected = (1, name, s)
    if isinstance(expected, Exception):
        raises(call, (a, b), type(expected), str(expected))
        return
    ok, result = call(a, b)
    if ok:
        check_result(result, *expected)


def expect_config(r, method, params, cfg, validations):
    """Calls a tier method; returns the new object, or None after checking its error."""
    message = None
    for validation in validations:
        value = cfg[validation[0]]
        if len(validation) == 1:
            if value not in ALGORITHMS:
                message = f"unknown algorithm: {value}"
                break
        else:
            allowed = GREATER + LESS + (("between",) if validation[1] else ())
            if value not in allowed:
                message = f"unknown threshold op: {value}"
                break
    call = Call(r, method, params)
    if message is None:
        ok, q = call(*cfg)
        return q if ok else None
    if any(conversion_error(kind, v) for (_, kind), v in zip(params, cfg)):
        call(*cfg)
        return None
    try:
        ok, _ = call(*cfg)
    except ValueError as error:
        assert str(error) == message, (str(error), message)
        return None
    assert not ok, f"accepted {cfg}"
    return None


def check_intent(r, flow, clean, a, b):
    intent = r.pick(list(INTENTS) + NEAR_INTENTS)
    call = Call(r, flow.compare_with_intent, [("intent", TEXT), ("a", TEXT), ("b", TEXT)])
    if has_surrogate(a + b):
        call(intent, a, b)
        return
    if intent not in INTENTS and intent != "auto":
        raises(call, (intent, a, b), ValueError, f"unknown intent: {intent}")
        return
    A, B = (kivo.clean_text(a), kivo.clean_text(b)) if clean else (a, b)
    if intent == "auto":
        algo = models.auto_choice(A, B)
    else:
        algo = INTENTS[intent]
    expected = run_model(algo, A, B)
    if isinstance(expected, Exception):
        raises(call, (intent, a, b), ValueError, str(expected))
        return
    ok, result = call(intent, a, b)
    if ok:
        check_result(result, 0, expected[1], expected[0])


# --- kivo.batch.lsh_pairs ---------------------------------------------------
#
# Signatures of every dtype and shape, as arrays (any layout) or as lists of
# rows (lists, tuples, arrays) holding ints and things that are not; a few
# values so that buckets are large and repeat across bands. Either the exact
# error (class, message, note) or the pairs of a model of banding.

LSH_DTYPES = ["uint64", "int64", "uint32", "int32", "uint16", "int16", "uint8", "int8", ">u8",
              ">i4", ">i2", "bool", "float64", "float32", "float16", "longdouble", "complex64",
              "datetime64[s]", "timedelta64[ns]", "U2", "S2", "object", "V8"]
LSH_ITEMS = [True, 1.0, None, "1", -1, 2**64, -(2**70), 2**80, 1j]
NOT_A_ROW = ["ab", b"ab", 5, None, {1, 2}, 1.5]
LSH_NOTE = ["while processing 'signatures'"]


def a_type(value) -> str:
    if value is None:
        return "None"
    name = type(value).__qualname__
    return ("an " if name[0] in "aeiouAEIOU" else "a ") + name


def lsh_array_values(np, r, dtype, shape):
    """An array of `dtype`: few values, the extremes, negatives now and then."""
    if dtype.kind in "iu":
        info = np.iinfo(dtype)
        values = [0, 1, int(info.max)] + ([-1, int(info.min)] if info.min < 0 and r.chance(40) else [])
    elif dtype.kind in "fc":
        values = [0.0, 1.5, math.nan, math.inf]
    else:
        return np.zeros(shape, dtype)
    flat = [r.pick(values) for _ in range(math.prod(shape))]
    array = np.array(flat, dtype=dtype).reshape(shape)
    layout = r.below(4)
    if layout == 1:
        array = np.asfortranarray(array)
    elif layout == 2 and array.ndim == 2:
        array = np.repeat(array, 2, axis=1)[:, ::2]  # strided
    return array


def lsh_signatures(np, r, count, width):
    """The argument: mostly a valid matrix, sometimes hostile in one place."""
    if r.chance(110):
        dtype = np.dtype(r.pick(LSH_DTYPES) if r.chance(80) else "uint64")
        shape = (count, width) if r.chance(230) else tuple(r.below(3) for _ in range(r.pick([0, 1, 3])))
        return lsh_array_values(np, r, dtype, shape)
    values = [0, 1, 2, MASK64, 2**63]
    rows = []
    for _ in range(count):
        row = [r.pick(values) for _ in range(width if r.chance(250) else r.below(9))]
        if row and r.byte() >= 246:  # rare, and never once the input runs out
            row[r.below(len(row))] = r.pick(LSH_ITEMS)
        kind = r.below(8)
        if kind == 0:
            row = tuple(row)
        elif kind == 1 and all(type(v) is int and 0 <= v <= MASK64 for v in row):
            row = np.array(row, dtype=r.pick(["uint64", ">u8", "float64", "object"]))
        elif kind == 2:
            row = [IntSub(v) if type(v) is int else v for v in row]
        if r.byte() >= 250:
            row = r.pick(NOT_A_ROW)
        rows.append(row)
    return tuple(rows) if r.chance(40) else rows


def lsh_read_array(np, array, name, ndim, row=None):
    """The values of an integer array as Python ints, or the error it raises."""
    if array.dtype.kind not in "iu":
        return TypeError(f"{name} must have an integer dtype (signed or unsigned), not {array.dtype}")
    if array.ndim != ndim:
        whole = "" if row is not None else " (one signature per row)"
        return ValueError(f"{name} must be {ndim}-dimensional{whole}, not {array.ndim}-dimensional")
    if array.size and array.min() < 0:
        flat = int(np.argmax(array < 0))
        where = f"[{row}, {flat}]" if row is not None else f"[{flat // array.shape[1]}, {flat % array.shape[1]}]"
        return ValueError(f"signatures{where} is {array.flat[flat]}: signature values must be non-negative")
    return array.tolist()


def lsh_read_int(item, where):
    if isinstance(item, bool):
        return TypeError(f"{where} is a bool, not an int")
    if not isinstance(item, int):
        try:
            item = item.__index__()
        except (AttributeError, TypeError):
            return TypeError(f"{where} is {a_type(item)}, not an int")
    if 0 <= item <= MASK64:
        return int(item)
    text = str(item) if abs(item) < 10**40 else ("a negative number" if item < 0 else "a number beyond 2**64")
    bound = "non-negative" if item < 0 else "below 2**64"
    return ValueError(f"{where} is {text}: signature values must be {bound}")


def lsh_read(np, sigs):
    """(matrix as lists of Python ints, signature length) or the error."""
    if not isinstance(sigs, (list, tuple)):
        array = np.asarray(sigs)
        if not isinstance(sigs, np.ndarray) and array.dtype.kind == "O":
            return TypeError(f"signatures must be an integer array or a list of sequences of ints, not {a_type(sigs)}")
        matrix = lsh_read_array(np, array, "signatures", 2)
        return matrix if isinstance(matrix, Exception) else (matrix, array.shape[1])
    matrix = []
    for n, row in enumerate(sigs):
        if isinstance(row, np.ndarray):
            values = lsh_read_array(np, row, f"signatures[{n}]", 1, n)
        elif isinstance(row, (str, bytes, set, int, float)) or row is None:
            values = TypeError(f"signatures[{n}] must be a sequence of ints, not {a_type(row)}")
        else:
            values = [lsh_read_int(item, f"signatures[{n}, {k}]") for k, item in enumerate(row)]
            values = next((v for v in values if isinstance(v, Exception)), values)
        if isinstance(values, Exception):
            return values
        if matrix and len(values) != len(matrix[0]):
            return ValueError(f"signatures[{n}] has {len(values)} value{'s' * (len(values) != 1)} and "
                              f"signatures[0] {len(matrix[0])}: every signature must have the same length")  # fmt: skip
        matrix.append(values)
    return matrix, (len(matrix[0]) if matrix else None)


def check_lsh_pairs(r, _a, _b):
    import numpy as np  # not instrumented: imported once fuzzing runs
    from kivo import batch

    # The few decisions first: an input that runs out leaves valid ones.
    bands, rows = 1 + r.uint(3), 1 + r.uint(2)
    if r.chance(20):
        bands, rows = bands - 1, rows - 1  # one of them 0, or a length too short
    hostile = None
    if r.byte() >= 244:
        hostile = r.pick(["bands", "rows"])
        value, error_class = r.pick(HOSTILE[UINT])
        bands, rows = (value, rows) if hostile == "bands" else (bands, value)
    workers = r.pick([1, 2, -1])
    count = 40 - r.below(41) if r.chance(40) else 11 - r.below(12)
    width = 8 - r.below(9)
    sigs = lsh_signatures(np, r, count, width)
    try:
        got = batch.lsh_pairs(sigs, bands=bands, rows=rows, workers=workers)
    except BaseException as error:  # noqa: BLE001 - checked below
        got = error
    # Arguments are read in order: bands, rows, (workers), signatures.
    if hostile is not None:
        assert type(got) is error_class and got.__notes__ == [f"while processing '{hostile}'"], got
        return
    read = lsh_read(np, sigs)
    if isinstance(read, Exception):
        assert type(got) is type(read) and str(got) == str(read), (got, read, sigs)
        assert getattr(got, "__notes__", None) == LSH_NOTE, got
        return
    matrix, length = read
    if bands == 0 or rows == 0 or (length is not None and bands * rows > length):
        message = f"bands and rows must be positive with bands * rows at most {length or 0} (the signature length)"
        assert type(got) is ValueError and str(got) == message, (got, message)
        return
    assert not isinstance(got, BaseException), (got, sigs)
    i, j = got
    assert i.dtype == j.dtype == np.int64 and i.shape == j.shape
    want = [(x, y) for x in range(len(matrix)) for y in range(x + 1, len(matrix))
            if any(matrix[x][k : k + rows] == matrix[y][k : k + rows] for k in range(0, bands * rows, rows))]  # fmt: skip
    assert list(zip(i.tolist(), j.tolist())) == want, (want, sigs, bands, rows)


# --- kivo.edit and kivo.tokens ---------------------------------------------

EDIT_MEASURES = [  # (distance or None, similarity, the similarity's maximum, model)
    (edit.osa_distance, edit.osa_similarity, lambda a, b: max(len(a), len(b)), models.osa_distance),
    (edit.damerau_levenshtein_distance, edit.damerau_levenshtein_similarity,
     lambda a, b: max(len(a), len(b)), models.damerau_levenshtein_distance),
    (edit.indel_distance, edit.indel_similarity, lambda a, b: len(a) + len(b), models.indel_distance),
    (None, edit.lcs_similarity, None, models.lcs_similarity),
]  # fmt: skip
TOKEN_RATIOS = [tokens.ratio, tokens.partial_ratio, tokens.token_sort_ratio,
                tokens.token_set_ratio, tokens.partial_token_sort_ratio,
                tokens.partial_token_set_ratio, tokens.weighted_ratio]  # fmt: skip


def check_edit(r, a, b):
    distance, similarity, maximum, model = r.pick(EDIT_MEASURES)
    ok, value = Call(r, distance or similarity, [("a", TEXT), ("b", TEXT)])(a, b)
    if not ok:
        return
    small = len(a) + len(b) < 40
    if distance is None:
        assert type(value) is float and in_unit(value), value
        assert value == similarity(b, a)
        assert not small or value == model(a, b)
        return
    assert type(value) is int and value == distance(b, a)
    assert similarity(a, b) == models.similarity_from(value, maximum(a, b))
    assert not small or value == model(a, b), (a, b, value)
    lcs = edit.lcs_length(a, b)
    assert edit.indel_distance(a, b) == len(a) + len(b) - 2 * lcs
    assert edit.damerau_levenshtein_distance(a, b) <= edit.osa_distance(a, b)
    assert edit.osa_distance(a, b) <= kivo.levenshtein_distance(a, b)


def check_weighted_levenshtein(r, a, b):
    costs = [r.uint(4) if r.chance(200) else r.uint(MASK64) for _ in range(3)]
    params = [("a", TEXT), ("b", TEXT), ("insert_cost", UINT), ("delete_cost", UINT),
              ("substitute_cost", UINT)]  # fmt: skip
    ok, value = Call(r, edit.weighted_levenshtein_distance, params)(a, b, *costs)
    if not ok:
        return
    assert type(value) is int and value >= 0
    if len(set(map(int, costs))) == 1:
        assert value == int(costs[0]) * kivo.levenshtein_distance(a, b)
    if len(a) + len(b) < 30:
        assert value == models.weighted_levenshtein_distance(a, b, *map(int, costs))


def check_alignment(r, a, b):
    function = r.pick([edit.levenshtein_editops, edit.levenshtein_opcodes])
    ok, value = Call(r, function, [("a", TEXT), ("b", TEXT)])(a, b)
    if not ok:
        return
    ops = value if function is edit.levenshtein_editops else edit.levenshtein_editops(a, b)
    assert models.apply_editops(a, b, ops) == b
    assert len(ops) == kivo.levenshtein_distance(a, b)
    if function is edit.levenshtein_opcodes:
        ends = [(0, 0)] + [(x[2], x[4]) for x in value]
        assert [(x[1], x[3]) for x in value] == ends[:-1] and ends[-1] == (len(a), len(b))
        assert all((x[0] == "equal") == (a[x[1] : x[2]] == b[x[3] : x[4]]) for x in value)


def check_tokens(r, a, b):
    function = r.pick(TOKEN_RATIOS)
    ok, value = Call(r, function, [("a", TEXT), ("b", TEXT)])(a, b)
    if not ok:
        return
    assert type(value) is float and in_unit(value), value
    assert value == function(b, a)
    if len(a) + len(b) < 40:
        assert value == getattr(models, function.__name__)(a, b), (a, b)


CHECKS = [
    check_levenshtein,
    check_jaro_winkler,
    check_hamming,
    check_jaccard,
    check_minhash,
    check_simhash,
    check_terms,
    check_cleaners,
    check_preprocessor,
    check_flow,
    *batch_harness.BATCH_CHECKS,
    check_lsh_pairs,
    *lsh_index_harness.CHECKS,
    *phonetic_harness.PHONETIC_CHECKS,
    check_edit,
    check_weighted_levenshtein,
    check_alignment,
    check_tokens,
]


def check(data: bytes) -> None:
    r = Reader(data)
    target = CHECKS[r.below(len(CHECKS))]
    surrogates = r.chance(16)
    a = r.text(surrogates)
    b = r.text(surrogates and r.chance(128))
    if r.chance(40):
        a = StrSub(a)
    target(r, a, b)
