"""KivoFlow.compare_with_intent: the intent table and the "auto" choice."""

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kivo

from router_helpers import HAMMING_ERROR, result
from strategies import texts

KivoFlow = kivo.KivoFlow

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

    @pytest.mark.parametrize("a, b", [("abc", "abd"), ("", ""), ("日本😀", "日本a"), ("é", "e")])
    def test_codes_runs_hamming(self, a, b):
        out = KivoFlow().compare_with_intent("codes", a, b)
        assert out == result(kivo.hamming_similarity(a, b), 0, "hamming")

    @pytest.mark.parametrize("a, b", [("abc", "abcd"), ("é", "ab"), ("", "a")])
    def test_codes_fails_on_different_char_counts(self, a, b):
        with pytest.raises(ValueError) as info:
            KivoFlow().compare_with_intent("codes", a, b)
        assert info.value.args == (HAMMING_ERROR,)

    @pytest.mark.parametrize(
        "intent",
        ["Names", "name", "typo", "document", "dedupe", "AUTO", "auto ", " auto", "", "codes\0"],
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

    def test_spec_examples(self):
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
