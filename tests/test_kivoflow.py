"""KivoFlow: configuration, the tiered compare and compare_with_intent."""

import math

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kivo
from router_helpers import ALGORITHMS, HAMMING_ERROR, NO_TIERS, error_of, result, undecided
from strategies import texts

KivoFlow = kivo.KivoFlow
nan, inf = math.nan, math.inf
ONE_SIDED_OPS = ["gt", "greater_than", "lt", "less_than"]
# A tier 2 that holds for every score: it shows whether tier 1 decided.
ALWAYS = ("jaccard_word", "lt", inf, 0.0)


class TestNames:
    @pytest.mark.parametrize("algo, _function, reported", ALGORITHMS)
    def test_every_algorithm_name_is_accepted_by_both_tiers(self, algo, _function, reported):
        flow = KivoFlow().tier_1(algo, "gt", 2.0, "lt", -1.0).tier_2(algo, "lt", -1.0, 0.0)
        assert flow.compare("abc", "abc")["algorithm"] == reported

    @pytest.mark.parametrize(
        "name",
        ["Levenshtein", "BM25", " bm25", "bm25 ", "minhash", "simhash", "jaccard",
         "jaro-winkler", "jaccard_bigrams", "", "levenshtein\0", "lévenshtein", "\0",
         "x" * 100_000, "{}%s%n {0}"],
    )
    def test_unknown_algorithm_names(self, name):
        for configure in (lambda f: f.tier_1(name, "gt", 0.5, "lt", 0.1),
                          lambda f: f.tier_2(name, "gt", 0.5, 0.0)):
            error = error_of(lambda: configure(KivoFlow()))
            assert type(error) is ValueError
            assert error.args == (f"unknown algorithm: {name}",)

    @pytest.mark.parametrize("op", ONE_SIDED_OPS)
    def test_one_sided_ops_are_accepted_everywhere(self, op):
        KivoFlow().tier_1("levenshtein", op, 0.5, op, 0.5).tier_2("levenshtein", op, 0.5, 0.5)

    def test_between_is_for_tier_2_only(self):
        KivoFlow().tier_2("jaccard_word", "between", 0.9, 0.1)
        for call in (lambda: KivoFlow().tier_1("levenshtein", "gt", 0.8, "between", 0.2),
                     lambda: KivoFlow().tier_1("levenshtein", "between", 0.8, "lt", 0.2)):
            assert error_of(call).args == ("unknown threshold op: between",)

    @pytest.mark.parametrize(
        "op",
        [">", "<", "GT", "ge", "gte", "le", "greater-than", "Between", " gt", "", "eq", "gt\0",
         "x" * 100_000, "{}%s%n"],
    )
    def test_unknown_ops(self, op):
        message = (f"unknown threshold op: {op}",)
        assert error_of(lambda: KivoFlow().tier_1("bm25", op, 0.8, "lt", 0.2)).args == message
        assert error_of(lambda: KivoFlow().tier_1("bm25", "gt", 0.8, op, 0.2)).args == message
        assert error_of(lambda: KivoFlow().tier_2("bm25", op, 0.8, 0.2)).args == message


class TestValidationOrder:
    @pytest.mark.parametrize(
        "call, message",
        [
            (lambda f: f.tier_1("fuzzy", "maybe", 0.8, "nope", 0.2), "unknown algorithm: fuzzy"),
            (lambda f: f.tier_1("bm25", "maybe", 0.8, "nope", 0.2), "unknown threshold op: maybe"),
            (lambda f: f.tier_1("bm25", "gt", 0.8, "nope", 0.2), "unknown threshold op: nope"),
            (lambda f: f.tier_2("fuzzy", "maybe", 0.0, 1.0), "unknown algorithm: fuzzy"),
        ],
    )
    def test_the_first_bad_setting_is_reported(self, call, message):
        assert error_of(lambda: call(KivoFlow())).args == (message,)

    def test_conversion_errors_come_before_validation(self):
        error = error_of(lambda: KivoFlow().tier_1("fuzzy", "maybe", 0.8, "nope", "x"), TypeError)
        assert "while processing 'mismatch_val'" in error.__notes__
        error = error_of(lambda: KivoFlow().tier_2("fuzzy", "maybe", 0.8, None), TypeError)
        assert "while processing 'val2'" in error.__notes__

    def test_keywords_bind_by_name(self):
        flow = KivoFlow().tier_1(mismatch_val=0.2, mismatch_op="lt", algo="levenshtein",
                                 match_val=0.8, match_op="gt")
        assert flow.compare(b="abc", a="xyz")["score"] == 0.0

    @pytest.mark.parametrize("value", [1, True, 2**70, nan, -inf])
    def test_values_are_stored_without_range_checks(self, value):
        KivoFlow().tier_1("levenshtein", "gt", value, "lt", value).tier_2("bm25", "between",
                                                                         value, value)


class TestImmutability:
    def test_configuring_returns_a_new_object_and_leaves_the_receiver(self):
        bare = KivoFlow()
        tiered = bare.tier_1("bm25", "gt", 0.8, "lt", 0.2)
        cleaning = bare.preprocess(True)
        assert isinstance(tiered, KivoFlow) and tiered is not bare and cleaning is not bare
        assert error_of(lambda: bare.compare("a", "b")).args == (NO_TIERS,)
        assert bare.compare_with_intent("typos", "A", "a")["score"] == 0.0
        assert cleaning.compare_with_intent("typos", "A", "a")["score"] == 1.0

    def test_failed_call_leaves_the_receiver_unchanged(self):
        flow = KivoFlow().tier_1("levenshtein", "gt", 0.9, "lt", 0.1)
        with pytest.raises(ValueError):
            flow.tier_1("hamming", "gt", 0.9, "nope", 0.1)
        assert flow.compare("abc", "abcd")["algorithm"] == "levenshtein"

    def test_configuring_a_tier_again_replaces_it(self):
        flow = KivoFlow().tier_1("hamming", "gt", 0.9, "lt", 0.1).tier_1("levenshtein", "gt",
                                                                        0.9, "lt", 0.1)
        assert flow.compare("abc", "abcd") == result(0.75, 1, "levenshtein")
        flow = KivoFlow().tier_2("hamming", "lt", 2.0, 0).tier_2("jaccard_word", "lt", 2.0, 0)
        assert flow.compare("a b", "a")["algorithm"] == "jaccard_word"
        flow = KivoFlow().preprocess(True).preprocess(False)
        assert flow.compare_with_intent("typos", "A", "a")["score"] == 0.0

    @pytest.mark.parametrize("pair", [("flaw", "lawn"), ("a b", "a"), ("", "x"), ("日本", "日本")])
    def test_chaining_order_does_not_matter(self, pair):
        steps = [
            lambda f: f.tier_1("levenshtein", "gt", 0.8, "lt", 0.2),
            lambda f: f.tier_2("jaccard_word", "between", 0.4, 0.6),
            lambda f: f.preprocess(True),
        ]
        forward = KivoFlow()
        for step in steps:
            forward = step(forward)
        backward = KivoFlow()
        for step in reversed(steps):
            backward = step(backward)
        assert forward.compare(*pair) == backward.compare(*pair)

    def test_repr_is_constant(self):
        flow = undecided("bm25").tier_2("tfidf", "between", 0, 1).preprocess(True)
        assert repr(flow) == "KivoFlow()" == repr(KivoFlow()) == str(flow)


class TestResultDict:
    def test_keys_types_and_order(self):
        out = KivoFlow().tier_1("levenshtein", "gt", 0.8, "lt", 0.2).compare("hello", "hello")
        assert list(out) == ["score", "tier", "algorithm", "fallback_called", "fallback_data"]
        assert out == result(1.0, 1, "levenshtein")
        assert [type(v) for v in out.values()] == [float, int, str, bool, str]

    def test_each_call_returns_a_fresh_dict(self):
        flow = undecided("levenshtein")
        first = flow.compare("a", "b")
        first["score"] = 7
        assert flow.compare("a", "b")["score"] == 0.0


class TestTier1:
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
    def test_decision_table(self, rules, decides):
        # Levenshtein scores 'flaw' against 'lawn' exactly 0.5.
        flow = KivoFlow().tier_1("levenshtein", *rules)
        expected_alone = result(0.5, 1, "levenshtein")
        assert flow.compare("flaw", "lawn") == expected_alone
        with_tier_2 = flow.tier_2(*ALWAYS).compare("flaw", "lawn")
        if decides:
            assert with_tier_2 == expected_alone
        else:
            assert with_tier_2 == result(0.0, 2, "jaccard_word")

    def test_decided_tier_1_skips_tier_2(self):
        # Tier 2's Hamming would fail on these texts if it ran.
        flow = KivoFlow().tier_1("levenshtein", "gt", 0.5, "lt", 0.1).tier_2("hamming", "gt",
                                                                           0, 0)
        assert flow.compare("abc", "abcd") == result(0.75, 1, "levenshtein")
        assert str(error_of(lambda: flow.compare("abc", "abxy"))) == HAMMING_ERROR

    def test_tier_1_failure_stops_before_tier_2(self):
        flow = KivoFlow().tier_1("hamming", "gt", 0.8, "lt", 0.2).tier_2(*ALWAYS)
        assert str(error_of(lambda: flow.compare("abc", "abcd"))) == HAMMING_ERROR

    def test_clear_match_and_mismatch_decide_at_tier_1(self):
        flow = KivoFlow().tier_1("levenshtein", "gt", 0.8, "lt", 0.2)
        assert flow.compare("abc", "xyz") == result(0.0, 1, "levenshtein")
        assert flow.compare("", "") == result(1.0, 1, "levenshtein")
        assert flow.compare("é", "e") == result(0.0, 1, "levenshtein")


class TestTier2:
    @pytest.mark.parametrize(
        "rule, holds",
        [
            (("gt", 0.4, 0.0), True),
            (("greater_than", 0.5, 0.0), False),
            (("lt", 0.6, -100.0), True),  # the second value is ignored
            (("less_than", 0.5, 9.0), False),
            (("between", 0.5, 0.5), True),
            (("between", 0.0, 0.5), True),
            (("between", 0.5, 1.0), True),
            (("between", 0.51, 1.0), False),
            (("between", 0.9, 0.1), False),  # empty range
            (("between", -inf, inf), True),
            (("between", inf, -inf), False),
            (("gt", -inf, 0.0), True),
            (("lt", inf, 0.0), True),
            (("greater_than", 5e-324, nan), True),
            (("between", nan, 1.0), False),
            (("between", 0.0, nan), False),
            (("gt", nan, 0.0), False),
            (("lt", nan, 0.0), False),
        ],
    )
    def test_rule_table_with_and_without_tier_1(self, rule, holds):
        only_2 = KivoFlow().tier_2("levenshtein", *rule)
        both = only_2.tier_1("jaro_winkler", "gt", inf, "lt", -inf)
        jaro = kivo.jaro_winkler_similarity("flaw", "lawn")
        if holds:
            assert only_2.compare("flaw", "lawn") == result(0.5, 2, "levenshtein")
            assert both.compare("flaw", "lawn") == result(0.5, 2, "levenshtein")
        else:
            assert str(error_of(lambda: only_2.compare("flaw", "lawn"))) == NO_TIERS
            assert both.compare("flaw", "lawn") == result(jaro, 1, "jaro_winkler")

    def test_tier_2_failure_comes_before_no_tiers(self):
        flow = KivoFlow().tier_2("hamming", "gt", 2.0, 0.0)
        assert str(error_of(lambda: flow.compare("abc", "abcd"))) == HAMMING_ERROR
        assert str(error_of(lambda: flow.compare("abc", "abd"))) == NO_TIERS

    @pytest.mark.parametrize("pair", [("a", "b"), ("", ""), ("same", "same")])
    def test_no_tiers(self, pair):
        for flow in (KivoFlow(), KivoFlow().preprocess(True)):
            with pytest.raises(ValueError) as info:
                flow.compare(*pair)
            assert info.value.args == (NO_TIERS,)


class TestPreprocessing:
    def test_cleaned_texts_feed_every_tier(self):
        # Raw texts differ in length (Hamming fails); cleaned ones do not.
        flow = KivoFlow().tier_1("levenshtein", "gt", 2, "lt", -1).tier_2("hamming", "gt", 0.5, 0)
        assert str(error_of(lambda: flow.compare(" ABC", "abc"))) == HAMMING_ERROR
        assert flow.preprocess(True).compare(" ABC", "abc") == result(1.0, 2, "hamming")

    @settings(max_examples=60, deadline=None)
    @given(texts(), texts(), st.sampled_from(["levenshtein", "jaccard_bigram", "tfidf", "bm25"]))
    def test_cleaning_equals_clean_text(self, a, b, algo):
        cleaned = undecided(algo).preprocess(True).compare(a, b)
        assert cleaned == undecided(algo).compare(kivo.clean_text(a), kivo.clean_text(b))


class TestAgreesWithModuleFunctions:
    @settings(max_examples=40, deadline=None)
    @given(texts(), texts())
    def test_every_algorithm_matches_its_function(self, a, b):
        for algo, function, reported in ALGORITHMS:
            if algo == "hamming" and len(a) != len(b):
                with pytest.raises(ValueError, match="^Strings must have equal length$"):
                    function(a, b)
                assert str(error_of(lambda: undecided(algo).compare(a, b))) == HAMMING_ERROR
                continue
            out = undecided(algo).compare(a, b)
            assert out["algorithm"] == reported and out["tier"] == 1
            expected = function(a, b)
            if algo == "tfidf":  # sum order may move the last bits
                assert math.isclose(out["score"], expected, rel_tol=1e-12, abs_tol=1e-15)
            else:
                assert out["score"] == expected

    @settings(max_examples=40, deadline=None)
    @given(st.text(max_size=12), st.text(max_size=12))
    def test_equal_length_hamming_matches(self, a, b):
        b = (b + a)[: len(a)].ljust(len(a), "x")
        assert undecided("hamming").compare(a, b)["score"] == kivo.hamming_similarity(a, b)

    def test_bm25_keeps_the_argument_order(self):
        flow = undecided("bm25")
        forward, backward = flow.compare("a a b", "a"), flow.compare("a", "a a b")
        assert forward["score"] == kivo.bm25_similarity("a a b", "a")
        assert backward["score"] == kivo.bm25_similarity("a", "a a b")
        assert forward["score"] != backward["score"]


INTENTS = [
    ("names", kivo.jaro_winkler_similarity, "jaro_winkler"),
    ("typos", kivo.levenshtein_similarity, "levenshtein"),
    ("documents", kivo.bm25_similarity, "bm25"),
    ("dedup", kivo.simhash_similarity_default, "simhash"),
    ("deduplication", kivo.simhash_similarity_default, "simhash"),
]
FUNCTION_OF = {
    "hamming": kivo.hamming_similarity,
    "jaro_winkler": kivo.jaro_winkler_similarity,
    "bm25": kivo.bm25_similarity,
    "simhash": kivo.simhash_similarity_default,
}


def auto_model(a, b):
    """The algorithm "auto" reports: byte lengths pick it, but Hamming also
    needs equal character counts."""
    la, lb = len(a.encode()), len(b.encode())
    longest = max(la, lb)
    if la == lb and longest < 21 and len(a) == len(b):
        return "hamming"
    if longest < 51:
        return "jaro_winkler"
    if longest < 501:
        return "bm25"
    return "simhash"


def auto(a, b, flow=None):
    return (flow or KivoFlow()).compare_with_intent("auto", a, b)


@st.composite
def equal_byte_pairs(draw):
    a = draw(texts(12))
    b = list(draw(st.permutations(a)))
    # Swap one two-byte character for two one-byte ones: bytes stay equal,
    # character counts drift apart.
    wide = [i for i, c in enumerate(b) if len(c.encode()) == 2]
    if wide and draw(st.booleans()):
        b[draw(st.sampled_from(wide))] = "xy"
    return a, "".join(b)


class TestIntentTable:
    @settings(max_examples=40, deadline=None)
    @given(texts(), texts())
    def test_named_intents_run_their_algorithm(self, a, b):
        for intent, function, reported in INTENTS:
            assert KivoFlow().compare_with_intent(intent, a, b) == result(function(a, b), 0,
                                                                          reported)

    @pytest.mark.parametrize(
        "a, b", [("abc", "abd"), ("", ""), ("日本😀", "日本a"), ("é", "e"), ("abc", "abcd"),
                 ("é", "ab"), ("", "a")]
    )
    def test_codes_runs_hamming(self, a, b):
        if len(a) != len(b):
            assert error_of(lambda: KivoFlow().compare_with_intent("codes", a, b)).args == (
                HAMMING_ERROR,
            )
        else:
            out = KivoFlow().compare_with_intent("codes", a, b)
            assert out == result(kivo.hamming_similarity(a, b), 0, "hamming")

    @pytest.mark.parametrize(
        "intent",
        ["Names", "name", "typo", "document", "dedupe", "AUTO", "auto ", " auto", "", "codes\0",
         "\0", "x" * 100_000, "{}%s%n"],
    )
    def test_unknown_intents(self, intent):
        with pytest.raises(ValueError) as info:
            KivoFlow().preprocess(True).compare_with_intent(intent, "abc", "abcd")
        assert info.value.args == (f"unknown intent: {intent}",)

    def test_arguments_are_converted_before_the_intent_is_checked(self):
        with pytest.raises(TypeError) as info:
            KivoFlow().compare_with_intent("bogus", "a", b"b")
        assert "while processing 'b'" in info.value.__notes__

    @pytest.mark.parametrize("cleaning", [False, True])
    @pytest.mark.parametrize(
        "configure",
        [
            lambda f: f.tier_1("hamming", "gt", 0.9, "lt", 0.1),
            lambda f: f.tier_2("tfidf", "between", 0.0, 0.0),
            lambda f: f.tier_2("bm25", "lt", -1, 0).tier_1("jaccard_word", "lt", 2, "gt", -1),
        ],
    )
    def test_tiers_are_ignored(self, cleaning, configure):
        bare = KivoFlow().preprocess(cleaning)
        tiered = configure(bare)
        for intent in ("auto", "names", "typos", "documents", "dedup"):
            for a, b in [("Abc", "abcd"), ("", ""), ("The  Cat", "the cat sat")]:
                assert tiered.compare_with_intent(intent, a, b) == bare.compare_with_intent(
                    intent, a, b
                )


class TestAuto:
    @pytest.mark.parametrize(
        "a, b, algorithm",
        [
            ("abc", "abd", "hamming"),
            ("abc", "abcd", "jaro_winkler"),
            ("", "", "hamming"),
            ("", "a", "jaro_winkler"),
            ("a" * 20, "b" * 20, "hamming"),
            ("a" * 21, "b" * 21, "jaro_winkler"),
            ("é" * 10, "è" * 10, "hamming"),  # 20 bytes each
            ("é" * 10 + "a", "è" * 10 + "a", "jaro_winkler"),  # 21 bytes each
            ("a", "b" * 50, "jaro_winkler"),
            ("a", "b" * 51, "bm25"),
            ("é" * 25, "a", "jaro_winkler"),  # 50 bytes
            ("a", "é" * 25 + "a", "bm25"),  # 51 bytes
            ("a" * 10, "b c " * 125, "bm25"),  # 500 bytes
            ("a" * 10, "b c " * 125 + "d", "simhash"),
            ("日" * 166 + "ab", "x", "bm25"),  # 500 bytes
            ("日" * 167, "x", "simhash"),  # 501 bytes
            ("x " * 300, "x " * 300, "simhash"),
        ],
    )
    def test_byte_length_bounds(self, a, b, algorithm):
        assert auto_model(a, b) == algorithm
        assert auto(a, b) == result(FUNCTION_OF[algorithm](a, b), 0, algorithm)

    def test_auto_scores_short_equal_length_texts_with_hamming(self):
        assert auto("abc", "abd") == result(1 - 1 / 3, 0, "hamming")
        assert auto("", "") == result(1.0, 0, "hamming")

    @pytest.mark.parametrize(
        "a, b", [("é", "ab"), ("😀" * 5, "a" * 20), ("日本", "abcdef"), ("ab\u0301", "abcd")]
    )
    def test_auto_skips_hamming_for_equal_bytes_but_different_char_counts(self, a, b):
        assert len(a.encode()) == len(b.encode()) and len(a) != len(b)
        assert auto(a, b) == result(kivo.jaro_winkler_similarity(a, b), 0, "jaro_winkler")

    def test_auto_measures_the_cleaned_texts(self):
        flow = KivoFlow().preprocess(True)
        assert auto("Hello  World", "hello world", flow) == result(1.0, 0, "hamming")
        raw = kivo.jaro_winkler_similarity("Hello  World", "hello world")
        assert auto("Hello  World", "hello world") == result(raw, 0, "jaro_winkler")
        # 'É ' cleans to 'é' (2 bytes, 1 char) against 'ab': equal bytes again.
        assert auto("É ", "ab", flow)["algorithm"] == "jaro_winkler"

    @settings(max_examples=150, deadline=None)
    @given(st.tuples(texts(), texts()) | equal_byte_pairs())
    def test_auto_matches_the_model(self, pair):
        a, b = pair
        algorithm = auto_model(a, b)
        assert auto(a, b) == result(FUNCTION_OF[algorithm](a, b), 0, algorithm)

    @settings(max_examples=40, deadline=None)
    @given(texts(), texts())
    def test_auto_with_cleaning_is_auto_on_cleaned_texts(self, a, b):
        cleaned = auto(a, b, KivoFlow().preprocess(True))
        assert cleaned == auto(kivo.clean_text(a), kivo.clean_text(b))
