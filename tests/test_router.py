"""KivoFlow: validation of its settings, the tiers' decision tables, the
fallback, and the algorithm each intent picks."""

import math

import pytest

import kivo
from measures import ROUTED, result, undecided

Flow = kivo.KivoFlow
nan, inf = math.nan, math.inf
HAMMING_ERROR = "Algorithm error: Hamming requires equal-length strings"
NO_TIERS = "Router configuration error: No tiers configured"
ALWAYS = ("jaccard_word", "lt", inf, 0.0)  # a tier 2 that holds for every score
LEV = Flow().tier_1("levenshtein", "gt", 0.9, "lt", 0.1)


def outcome(call):
    try:
        return call()
    except ValueError as error:
        assert len(error.args) == 1
        return error.args[0]


@pytest.mark.parametrize("algo", ROUTED)
def test_every_algorithm_runs_in_tier_2(algo):
    reported = algo.removesuffix("_default")
    expected = result(ROUTED[algo]("abc", "abd"), 2, reported)
    assert Flow().tier_2(algo, "gt", -1.0, 0.0).compare("abc", "abd") == expected


@pytest.mark.parametrize(
    "call, message",
    [
        *[(lambda f, n=name: f.tier_1(n, "gt", 0.5, "lt", 0.1), f"unknown algorithm: {name}")
          for name in ["Levenshtein", " bm25", "minhash", "simhash", "jaccard", "jaro-winkler",
                       "", "levenshtein\0", "x" * 100_000, "{}%s%n {0}"]],
        (lambda f: f.tier_2("BM25", "gt", 0.5, 0.0), "unknown algorithm: BM25"),
        *[(lambda f, o=op: f.tier_1("bm25", o, 0.8, "lt", 0.2), f"unknown threshold op: {op}")
          for op in [">", "GT", "ge", "gte", "greater-than", " gt", "", "gt\0", "between"]],
        (lambda f: f.tier_1("bm25", "gt", 0.8, "between", 0.2), "unknown threshold op: between"),
        (lambda f: f.tier_2("bm25", "Between", 0.8, 0.2), "unknown threshold op: Between"),
        # The first bad setting in the order algorithm, match op, mismatch op.
        (lambda f: f.tier_1("fuzzy", "maybe", 0.8, "no", 0.2), "unknown algorithm: fuzzy"),
        (lambda f: f.tier_1("bm25", "maybe", 0.8, "no", 0.2), "unknown threshold op: maybe"),
        (lambda f: f.tier_1("bm25", "gt", 0.8, "no", 0.2), "unknown threshold op: no"),
        (lambda f: f.tier_2("fuzzy", "maybe", 0.0, 1.0), "unknown algorithm: fuzzy"),
        *[(lambda f, i=intent: f.preprocess(True).compare_with_intent(i, "abc", "abcd"),
           f"unknown intent: {intent}")
          for intent in ["Typos", "name", "dedupe", "auto ", "", "%s"]],
    ],
)
def test_unknown_names(call, message):
    assert outcome(lambda: call(LEV)) == message
    assert LEV.compare("abc", "abcd") == result(0.75, 1, "levenshtein")  # unchanged


def test_arguments_are_converted_before_they_are_validated():
    for call, param in [(lambda: Flow().tier_1("fuzzy", "maybe", 0.8, "no", "x"), "mismatch_val"),
                        (lambda: Flow().compare_with_intent("bogus", "a", b"b"), "b")]:
        with pytest.raises(TypeError) as info:
            call()
        assert info.value.__notes__ == [f"while processing '{param}'"]


def test_configuring_returns_new_objects():
    flow = Flow().tier_1(mismatch_val=0.2, mismatch_op="lt", algo="levenshtein", match_val=0.8,
                         match_op="greater_than")
    assert flow.compare(b="abc", a="xyz") == result(0.0, 1, "levenshtein")
    for value in [1, True, 2**70, nan, -inf]:  # values are stored without checks
        Flow().tier_1("bm25", "gt", value, "lt", value).tier_2("bm25", "between", value, value)
    bare = Flow()
    assert bare.tier_1("bm25", "gt", 0.8, "lt", 0.2) is not bare and bare.preprocess(True) is not bare
    assert outcome(lambda: bare.compare("a", "b")) == NO_TIERS
    assert repr(LEV.tier_2("tfidf", "between", 0, 1).preprocess(True)) == "KivoFlow()" == str(bare)


@pytest.mark.parametrize("pair", [("flaw", "lawn"), ("a b", "a"), ("", "x"), ("日本", "日本")])
def test_chaining_order_does_not_matter(pair):
    steps = [lambda f: f.tier_1("levenshtein", "gt", 0.8, "lt", 0.2),
             lambda f: f.tier_2("jaccard_word", "between", 0.4, 0.6), lambda f: f.preprocess(True)]
    forward, backward = Flow(), Flow()
    for step, back in zip(steps, reversed(steps)):
        forward, backward = step(forward), back(backward)
    assert forward.compare(*pair) == backward.compare(*pair)


@pytest.mark.parametrize(
    "flow, tier, algorithm",
    [(Flow().tier_1("levenshtein", "gt", -1.0, "lt", -1.0), 1, "levenshtein"),
     (Flow().tier_1("hamming", "gt", 2.0, "lt", -1.0), 1, "hamming"),
     (undecided("minhash_default").tier_2("jaro_winkler", "gt", -1, 0), 2, "jaro_winkler"),
     (Flow().tier_2("simhash_default", "lt", 2.0, 0), 2, "simhash")],
)
def test_results_are_fresh_dicts(flow, tier, algorithm):
    first = flow.compare("kitten", "sittin")
    assert list(first) == ["score", "tier", "algorithm", "fallback_called", "fallback_data"]
    assert first == result(first["score"], tier, algorithm) and type(first["score"]) is float
    expected = dict(first)
    first.update(score=None, tier=99, algorithm="changed", extra=1)
    del first["fallback_data"]
    assert flow.compare("kitten", "sittin") == expected
    Flow().compare_with_intent("typos", "kitten", "sitting").clear()
    assert Flow().compare_with_intent("typos", "kitten", "sitting")["score"] == 1 - 3 / 7


@pytest.mark.parametrize(
    "rules, decides",
    [
        (("gt", 0.4, "lt", 0.1), True),
        (("gt", 0.5, "lt", 0.1), False),  # equal to the match bound
        (("greater_than", 0.49, "lt", 0.0), True),
        (("gt", 0.9, "lt", 0.6), True),
        (("gt", 0.9, "lt", 0.5), False),  # equal to the mismatch bound
        (("gt", 0.9, "less_than", 0.51), True),
        (("lt", 0.9, "gt", 0.1), False),  # rules of these kinds never decide
        (("lt", 0.9, "lt", 0.1), False),
        (("lt", 0.1, "lt", 0.9), True),
        (("gt", 0.1, "gt", 0.9), True),
        (("gt", 0.9, "gt", 0.1), False),
        (("gt", nan, "lt", nan), False),
        (("gt", -inf, "lt", nan), True),
        (("gt", nan, "lt", inf), True),
        (("gt", inf, "lt", -inf), False),
    ],
)
def test_tier_1_decision_table(rules, decides):
    # Levenshtein scores 'flaw' against 'lawn' exactly 0.5; undecided, tier 1 runs again.
    flow = Flow().tier_1("levenshtein", *rules)
    assert flow.compare("flaw", "lawn") == result(0.5, 1, "levenshtein")
    expected = result(0.5, 1, "levenshtein") if decides else result(0.0, 2, "jaccard_word")
    assert flow.tier_2(*ALWAYS).compare("flaw", "lawn") == expected


@pytest.mark.parametrize(
    "rule, holds",
    [
        (("gt", 0.4, 0.0), True),
        (("greater_than", 0.5, 0.0), False),
        (("lt", 0.6, -100.0), True),  # the second value is ignored
        (("less_than", 0.5, 9.0), False),
        (("between", 0.5, 0.5), True),  # both ends inclusive
        (("between", 0.0, 0.5), True),
        (("between", 0.51, 1.0), False),
        (("between", 0.9, 0.1), False),  # an empty range
        (("between", -inf, inf), True),
        (("gt", -inf, 0.0), True),
        (("greater_than", 5e-324, nan), True),
        (("between", nan, 1.0), False),
        (("between", 0.0, nan), False),
        (("lt", nan, 0.0), False),
    ],
)
def test_tier_2_rule_table(rule, holds):
    only_2 = Flow().tier_2("levenshtein", *rule)
    both = only_2.tier_1("jaro_winkler", "gt", inf, "lt", -inf)
    if holds:
        assert only_2.compare("flaw", "lawn") == result(0.5, 2, "levenshtein")
        assert both.compare("flaw", "lawn") == result(0.5, 2, "levenshtein")
    else:
        assert outcome(lambda: only_2.compare("flaw", "lawn")) == NO_TIERS
        jaro = kivo.jaro_winkler_similarity("flaw", "lawn")
        assert both.compare("flaw", "lawn") == result(jaro, 1, "jaro_winkler")  # the fallback


SKIPPED = LEV.tier_1("levenshtein", "gt", 0.5, "lt", 0.1).tier_2("hamming", "gt", 0, 0)
HAMMING_2 = Flow().tier_2("hamming", "gt", 2.0, 0.0)
CLEANED_2 = undecided("levenshtein").tier_2("hamming", "gt", 0.5, 0)


@pytest.mark.parametrize(
    "flow, a, b, expected",
    [
        (SKIPPED, "abc", "abcd", result(0.75, 1, "levenshtein")),  # tier 2 would fail
        (SKIPPED, "abc", "abxy", HAMMING_ERROR),
        (Flow().tier_1("hamming", "gt", 0.8, "lt", 0.2).tier_2(*ALWAYS), "ab", "a", HAMMING_ERROR),
        (HAMMING_2, "abc", "abcd", HAMMING_ERROR),  # before "no tiers"
        (HAMMING_2, "abc", "abd", NO_TIERS),
        (Flow().preprocess(True), "same", "same", NO_TIERS),
        # A tier configured again is replaced, never appended.
        (HAMMING_2.tier_2("jaccard_word", "lt", 2, 0), "a b", "a", result(0.5, 2, "jaccard_word")),
        (LEV.tier_1("hamming", "gt", 0.9, "lt", 0.1).tier_1("levenshtein", "gt", 1, "lt", 0), "abc",
         "abcd", result(0.75, 1, "levenshtein")),
        (LEV, "", "", result(1.0, 1, "levenshtein")),
        (LEV, "é", "e", result(0.0, 1, "levenshtein")),
        (LEV, "Hello  World", "hello world", result(0.75, 1, "levenshtein")),
        (LEV.preprocess(True), "Hello  World", "hello world", result(1.0, 1, "levenshtein")),
        # The cleaned texts feed every tier.
        (CLEANED_2, " ABC", "abc", HAMMING_ERROR),
        (CLEANED_2.preprocess(True), " ABC", "abc", result(1.0, 2, "hamming")),
    ],
)
def test_compare(flow, a, b, expected):
    assert outcome(lambda: flow.compare(a, b)) == expected


@pytest.mark.parametrize(
    "cleaning, intent, a, b, algorithm",
    [
        (False, "codes", "日本😀", "日本a", "hamming"),
        (False, "codes", "é", "ab", HAMMING_ERROR),
        (False, "names", "Abc", "abcd", "jaro_winkler"),
        (False, "typos", "A", "a", "levenshtein"),
        (True, "typos", "A", "a", "levenshtein"),
        (False, "documents", "a a b", "a", "bm25"),
        (False, "dedup", "abc", "abd", "simhash_default"),
        (False, "deduplication", "abc", "abd", "simhash_default"),
        (False, "auto", "abc", "abd", "hamming"),
        (False, "auto", "", "", "hamming"),
        (False, "auto", "abc", "abcd", "jaro_winkler"),
        (False, "auto", "a" * 20, "b" * 20, "hamming"),
        (False, "auto", "a" * 21, "b" * 21, "jaro_winkler"),
        (False, "auto", "é" * 10, "è" * 10, "hamming"),  # 20 bytes each
        (False, "auto", "é" * 10 + "a", "è" * 10 + "a", "jaro_winkler"),
        (False, "auto", "a", "b" * 50, "jaro_winkler"),
        (False, "auto", "a", "b" * 51, "bm25"),
        (False, "auto", "é" * 25, "a", "jaro_winkler"),  # 50 bytes
        (False, "auto", "a", "é" * 25 + "a", "bm25"),
        (False, "auto", "a" * 10, "b c " * 125, "bm25"),  # 500 bytes
        (False, "auto", "a" * 10, "b c " * 125 + "d", "simhash_default"),
        (False, "auto", "日" * 167, "x", "simhash_default"),  # 501 bytes
        # Equal byte lengths but different character counts: not Hamming.
        (False, "auto", "é", "ab", "jaro_winkler"),
        (False, "auto", "😀" * 5, "a" * 20, "jaro_winkler"),
        (False, "auto", "Hello  World", "hello world", "jaro_winkler"),
        (True, "auto", "Hello  World", "hello world", "hamming"),
        (True, "auto", "É ", "ab", "jaro_winkler"),  # 'é' against 'ab'
    ],
)
def test_intents(cleaning, intent, a, b, algorithm):
    flow = Flow().preprocess(not cleaning).preprocess(cleaning)
    got = outcome(lambda: flow.compare_with_intent(intent, a, b))
    tiered = flow.tier_1("hamming", "gt", 0.9, "lt", 0.1).tier_2("tfidf", "lt", 2, 0)
    assert outcome(lambda: tiered.compare_with_intent(intent, a, b)) == got  # tiers play no part
    if algorithm != HAMMING_ERROR:
        prepared = [kivo.clean_text(t) for t in (a, b)] if cleaning else (a, b)
        algorithm = result(ROUTED[algorithm](*prepared), 0, algorithm.removesuffix("_default"))
    assert got == algorithm
