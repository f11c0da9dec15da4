"""Every form of every measure, paired with its model; `check`, through which
the measure tests go; and the router's view of the measures."""

import math
import sys
from dataclasses import dataclass

import pytest

import kivo
import models


@dataclass(frozen=True)
class Measure:
    name: str
    forms: tuple  # (native, model) pairs over (a, b)
    symmetric: bool = True  # the first form gives the same value in both orders
    relation: object = None  # (a, b, values) -> whether the forms agree with each other
    top: float = 1.0  # the largest similarity allowed (a cosine may round above 1)

    def __repr__(self):
        return self.name


def both(f):
    """A form of a one-text function over a pair of texts."""
    return lambda a, b: (f(a), f(b))


LEVENSHTEIN = Measure("levenshtein", (
    (kivo.levenshtein_distance, models.levenshtein_distance),
    (kivo.levenshtein_similarity, models.levenshtein_similarity),
), relation=lambda a, b, v: v[1] == (1.0 - v[0] / max(len(a), len(b)) if a or b else 1.0))
HAMMING = Measure("hamming", (
    (kivo.hamming_distance, models.hamming_distance),
    (kivo.hamming_similarity, models.hamming_similarity),
), relation=lambda a, b, v: v[1] == (1.0 - v[0] / len(a) if a else 1.0))
JARO_WINKLER = Measure("jaro_winkler", ((kivo.jaro_winkler_similarity, models.jaro_winkler),),
                       symmetric=False)
JACCARD_WORD = Measure("jaccard_word", ((kivo.jaccard_word_similarity, models.jaccard_words),))
BM25 = Measure("bm25", ((kivo.bm25_similarity, models.bm25_similarity),), symmetric=False)
TFIDF = Measure("tfidf", ((kivo.tfidf_similarity, models.tfidf_similarity),), symmetric=False,
                top=1.0 + 4 * sys.float_info.epsilon)


def jaccard(n):
    forms = ((lambda a, b: kivo.jaccard_similarity(a, b, n), lambda a, b: models.jaccard(a, b, n)),)
    named = {2: kivo.jaccard_bigram_similarity, 3: kivo.jaccard_trigram_similarity}
    return Measure(f"jaccard{n}", forms + (((named[n], forms[0][1]),) if n in named else ()))


def minhash(k, m):
    score = (lambda a, b: kivo.minhash_similarity(a, b, k, m),
             lambda a, b: models.minhash_similarity(a, b, k, m))
    signatures = (both(lambda t: kivo.minhash_signature(t, k, m)),
                  both(lambda t: models.minhash_signature(t, k, m)))
    default = ((kivo.minhash_similarity_default, score[1]),) if (k, m) == (3, 128) else ()
    return Measure(f"minhash{k}x{m}", (score, signatures, *default), relation=lambda a, b, v: same(
        v[0], sum(map(int.__eq__, *v[1])) / m if m else math.nan))


def simhash(k):
    score = (lambda a, b: kivo.simhash_similarity(a, b, k),
             lambda a, b: models.simhash_similarity(a, b, k))
    prints = (both(lambda t: kivo.simhash_fingerprint(t, k)),
              both(lambda t: models.simhash_fingerprint(t, k)))
    default = ((kivo.simhash_similarity_default, score[1]),
               (both(kivo.simhash_fingerprint_default), prints[1])) if k == 4 else ()
    return Measure(f"simhash{k}", (score, prints, *default),
                   relation=lambda a, b, v: v[0] == 1.0 - bin(v[1][0] ^ v[1][1]).count("1") / 64)


# The module function of each measure the router runs by name; a result
# reports the name without "_default".
ROUTED = {
    "levenshtein": kivo.levenshtein_similarity, "jaro_winkler": kivo.jaro_winkler_similarity,
    "hamming": kivo.hamming_similarity, "jaccard_bigram": kivo.jaccard_bigram_similarity,
    "jaccard_trigram": kivo.jaccard_trigram_similarity, "jaccard_word": kivo.jaccard_word_similarity,
    "minhash_default": kivo.minhash_similarity_default, "bm25": kivo.bm25_similarity,
    "simhash_default": kivo.simhash_similarity_default, "tfidf": kivo.tfidf_similarity,
}


def undecided(algo):
    """A router whose tier 1 never decides, so compare returns its raw score."""
    return kivo.KivoFlow().tier_1(algo, "gt", math.inf, "lt", -math.inf)


def result(score, tier, algorithm):
    return {"score": score, "tier": tier, "algorithm": algorithm, "fallback_called": False,
            "fallback_data": ""}


def same(x, y):
    """Equal values of equal types; NaN equals NaN, and 0.0 is not -0.0."""
    if isinstance(x, float) and isinstance(y, float):
        both_nan = math.isnan(x) and math.isnan(y)
        return both_nan or (x == y and math.copysign(1, x) == math.copysign(1, y))
    return type(x) is type(y) and x == y


def outcome(fn, a, b):
    try:
        return fn(a, b)
    except BaseException as error:  # noqa: BLE001 - a failure is an outcome here
        return error


def agree(native, model):
    """A native outcome against the model's: the same value, or the same failure
    (the models raise RuntimeError where kivo raises PanicException)."""
    if isinstance(model, BaseException):
        expected = kivo.PanicException if type(model) is RuntimeError else type(model)
        return type(native) is expected and str(native) == str(model)
    return not isinstance(native, BaseException) and same(native, model)


def has_surrogate(text):
    return any("\ud800" <= c <= "\udfff" for c in text)


def check(measure, a, b):
    """Every form of `measure` agrees with its model on (a, b), and on (b, a)
    where the measure is not symmetric; a symmetric one gives the same score
    in both orders. Similarities lie in [0, 1] and the forms agree with each
    other. A lone surrogate fails the conversion of the first argument holding
    one. Returns the native value of a single form, or a tuple of them."""
    bad = [name for name, text in (("a", a), ("b", b)) if has_surrogate(text)]
    if bad:
        with pytest.raises(UnicodeEncodeError) as info:
            measure.forms[0][0](a, b)
        assert info.value.__notes__ == [f"while processing '{bad[0]}'"]
        return None
    values = tuple(outcome(native, a, b) for native, _ in measure.forms)
    orders = [(a, b, values)]
    if measure.symmetric:
        assert agree(outcome(measure.forms[0][0], b, a), values[0])
    else:
        orders.append((b, a, tuple(outcome(native, b, a) for native, _ in measure.forms)))
    for x, y, got in orders:
        for value, (_, model) in zip(got, measure.forms):
            expected = outcome(model, x, y)
            assert agree(value, expected), (measure, x, y, value, expected)
        if not isinstance(got[0], BaseException):
            score = got[0] if isinstance(got[0], float) else got[-1]
            assert math.isnan(score) or 0.0 <= score <= measure.top, score
            assert measure.relation is None or measure.relation(x, y, got)
    return values[0] if len(values) == 1 else values
