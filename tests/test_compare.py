"""KivoFlow.compare: tier 1, tier 2, fallback, cleaning and the result dict."""

import math
from concurrent.futures import ThreadPoolExecutor

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kivo

from router_helpers import ALGORITHMS, HAMMING_ERROR, NO_TIERS, result, undecided
from strategies import texts

KivoFlow = kivo.KivoFlow
nan, inf = math.nan, math.inf

# A tier 2 that holds for every score: it shows whether tier 1 decided.
ALWAYS = ("jaccard_word", "lt", inf, 0.0)


def message_of(call):
    with pytest.raises(ValueError) as info:
        call()
    return str(info.value)


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
        assert message_of(lambda: flow.compare("abc", "abxy")) == HAMMING_ERROR

    def test_tier_1_failure_stops_before_tier_2(self):
        flow = KivoFlow().tier_1("hamming", "gt", 0.8, "lt", 0.2).tier_2(*ALWAYS)
        assert message_of(lambda: flow.compare("abc", "abcd")) == HAMMING_ERROR

    def test_spec_scores(self):
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
            assert message_of(lambda: only_2.compare("flaw", "lawn")) == NO_TIERS
            assert both.compare("flaw", "lawn") == result(jaro, 1, "jaro_winkler")

    def test_inclusive_between_decides_after_tier_1(self):
        flow = KivoFlow().tier_1("levenshtein", "gt", 0.8, "lt", 0.2).tier_2("jaccard_word",
                                                                           "between", 0.5, 0.5)
        assert flow.compare("a b", "a") == result(0.5, 2, "jaccard_word")

    def test_tier_2_failure_comes_before_no_tiers(self):
        flow = KivoFlow().tier_2("hamming", "gt", 2.0, 0.0)
        assert message_of(lambda: flow.compare("abc", "abcd")) == HAMMING_ERROR
        assert message_of(lambda: flow.compare("abc", "abd")) == NO_TIERS

    @pytest.mark.parametrize("pair", [("a", "b"), ("", ""), ("same", "same")])
    def test_no_tiers(self, pair):
        for flow in (KivoFlow(), KivoFlow().preprocess(True)):
            with pytest.raises(ValueError) as info:
                flow.compare(*pair)
            assert info.value.args == (NO_TIERS,)


class TestPreprocessing:
    def test_cleaning_switch(self):
        flow = KivoFlow().tier_1("levenshtein", "gt", 0.9, "lt", 0.1)
        assert flow.preprocess(True).compare("Hello  World", "hello world") == result(
            1.0, 1, "levenshtein"
        )
        assert flow.compare("Hello  World", "hello world") == result(0.75, 1, "levenshtein")

    def test_cleaned_texts_feed_every_tier(self):
        # Raw texts differ in length (Hamming fails); cleaned ones do not.
        flow = KivoFlow().tier_1("levenshtein", "gt", 2, "lt", -1).tier_2("hamming", "gt", 0.5, 0)
        assert message_of(lambda: flow.compare(" ABC", "abc")) == HAMMING_ERROR
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
                assert message_of(lambda: undecided(algo).compare(a, b)) == HAMMING_ERROR
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

    @settings(max_examples=40, deadline=None)
    @given(texts(), texts())
    def test_simhash_score_is_the_share_of_equal_bits(self, a, b):
        bits = kivo.simhash_fingerprint_default(a) ^ kivo.simhash_fingerprint_default(b)
        score = undecided("simhash_default").compare(a, b)["score"]
        assert score == 1 - bin(bits).count("1") / 64

    def test_bm25_keeps_the_argument_order(self):
        flow = undecided("bm25")
        forward, backward = flow.compare("a a b", "a"), flow.compare("a", "a a b")
        assert forward["score"] == kivo.bm25_similarity("a a b", "a")
        assert backward["score"] == kivo.bm25_similarity("a", "a a b")
        assert forward["score"] != backward["score"]


def test_one_object_shared_across_threads():
    flow = KivoFlow().preprocess(True).tier_1("jaro_winkler", "gt", 0.9, "lt", 0.1).tier_2(
        "jaccard_bigram", "between", 0.3, 0.6
    )
    pairs = [(f"Text {i}", f"text  {i * 7}") for i in range(200)]
    expected = [flow.compare(a, b) for a, b in pairs]
    with ThreadPoolExecutor(4) as pool:
        assert list(pool.map(lambda p: flow.compare(*p), pairs)) == expected
