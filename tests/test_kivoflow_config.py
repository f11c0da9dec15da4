"""KivoFlow configuration: accepted names, validation order, immutability."""

import math

import pytest

import kivo

from router_helpers import ALGORITHMS, NO_TIERS, result, undecided

KivoFlow = kivo.KivoFlow
ONE_SIDED_OPS = ["gt", "greater_than", "lt", "less_than"]


def error_of(call, exc=ValueError):
    with pytest.raises(exc) as info:
        call()
    return info.value


class TestNames:
    @pytest.mark.parametrize("algo, _function, reported", ALGORITHMS)
    def test_every_algorithm_name_is_accepted_by_both_tiers(self, algo, _function, reported):
        flow = KivoFlow().tier_1(algo, "gt", 2.0, "lt", -1.0).tier_2(algo, "lt", -1.0, 0.0)
        assert flow.compare("abc", "abc")["algorithm"] == reported

    @pytest.mark.parametrize(
        "name",
        ["Levenshtein", "BM25", " bm25", "bm25 ", "minhash", "simhash", "jaccard",
         "jaro-winkler", "jaccard_bigrams", "", "levenshtein\0", "lévenshtein"],
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
        "op", [">", "<", "GT", "ge", "gte", "le", "greater-than", "Between", " gt", "", "eq"]
    )
    def test_unknown_ops(self, op):
        message = (f"unknown threshold op: {op}",)
        assert error_of(lambda: KivoFlow().tier_1("bm25", op, 0.8, "lt", 0.2)).args == message
        assert error_of(lambda: KivoFlow().tier_1("bm25", "gt", 0.8, op, 0.2)).args == message
        assert error_of(lambda: KivoFlow().tier_2("bm25", op, 0.8, 0.2)).args == message

    def test_messages_are_inserted_verbatim(self):
        name = "{} %s {0}"
        assert error_of(lambda: KivoFlow().tier_2(name, "gt", 0, 0)).args == (
            "unknown algorithm: {} %s {0}",
        )


class TestValidationOrder:
    @pytest.mark.parametrize(
        "args, message",
        [
            (("fuzzy", "maybe", 0.8, "nope", 0.2), "unknown algorithm: fuzzy"),
            (("bm25", "maybe", 0.8, "nope", 0.2), "unknown threshold op: maybe"),
            (("bm25", "gt", 0.8, "nope", 0.2), "unknown threshold op: nope"),
        ],
    )
    def test_tier_1_reports_the_first_bad_setting(self, args, message):
        assert error_of(lambda: KivoFlow().tier_1(*args)).args == (message,)

    def test_tier_2_reports_the_algorithm_before_the_op(self):
        error = error_of(lambda: KivoFlow().tier_2("fuzzy", "maybe", 0.0, 1.0))
        assert error.args == ("unknown algorithm: fuzzy",)

    def test_conversion_errors_come_before_validation(self):
        error = error_of(lambda: KivoFlow().tier_1("fuzzy", "maybe", 0.8, "nope", "x"), TypeError)
        assert "while processing 'mismatch_val'" in error.__notes__
        error = error_of(lambda: KivoFlow().tier_2("fuzzy", "maybe", 0.8, None), TypeError)
        assert "while processing 'val2'" in error.__notes__

    def test_lone_surrogate_name_fails_at_conversion(self):
        error = error_of(lambda: KivoFlow().tier_1("\ud800", "gt", 0.8, "lt", 0.2),
                         UnicodeEncodeError)
        assert "while processing 'algo'" in error.__notes__

    @pytest.mark.parametrize(
        "call, message",
        [
            (lambda: KivoFlow().tier_2("levenshtein", val2=0.5),
             "KivoFlow.tier_2() missing 2 required positional arguments: 'op' and 'val1'"),
            (lambda: KivoFlow().tier_2("levenshtein", "gt", 0.5, 0.5, 0.5),
             "KivoFlow.tier_2() takes 4 positional arguments but 5 were given"),
            (lambda: KivoFlow().preprocess(True, enable=False),
             "KivoFlow.preprocess() got multiple values for argument 'enable'"),
            (lambda: KivoFlow().compare_with_intent("auto"),
             "KivoFlow.compare_with_intent() missing 2 required positional arguments: "
             "'a' and 'b'"),
            (lambda: KivoFlow().preprocess(1),
             "'int' object is not an instance of 'bool'"),
        ],
    )
    def test_argument_errors(self, call, message):
        assert str(error_of(call, TypeError)) == message

    def test_keywords_bind_by_name(self):
        flow = KivoFlow().tier_1(mismatch_val=0.2, mismatch_op="lt", algo="levenshtein",
                                 match_val=0.8, match_op="gt")
        assert flow.compare(b="abc", a="xyz")["score"] == 0.0

    @pytest.mark.parametrize("value", [1, True, 2**70, math.nan, -math.inf])
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

    def test_objects_take_no_attributes(self):
        with pytest.raises(AttributeError):
            KivoFlow().tier = 1
        with pytest.raises(TypeError):
            KivoFlow.compare = None

    def test_tier_1_again_replaces_tier_1(self):
        flow = KivoFlow().tier_1("hamming", "gt", 0.9, "lt", 0.1).tier_1("levenshtein", "gt",
                                                                        0.9, "lt", 0.1)
        assert flow.compare("abc", "abcd") == result(0.75, 1, "levenshtein")

    def test_tier_2_again_replaces_tier_2(self):
        flow = KivoFlow().tier_2("hamming", "lt", 2.0, 0).tier_2("jaccard_word", "lt", 2.0, 0)
        assert flow.compare("a b", "a")["algorithm"] == "jaccard_word"

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

    def test_preprocess_can_be_switched_back_off(self):
        flow = KivoFlow().preprocess(True).preprocess(False)
        assert flow.compare_with_intent("typos", "A", "a")["score"] == 0.0

    def test_repr_is_constant(self):
        flow = undecided("bm25").tier_2("tfidf", "between", 0, 1).preprocess(True)
        assert repr(flow) == "KivoFlow()" == repr(KivoFlow()) == str(flow)
