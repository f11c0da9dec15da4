"""The fast paths of the set and term measures and of the router against
plain models: the ASCII term cutter, the vector MinHash kernel at its block
widths, and the cached names and result layout of KivoFlow."""

import math

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kivo
import models
import term_models
from router_helpers import ALGORITHMS, undecided

# Every ASCII separator class, capitals, digits, control characters.
ASCII_TEXT = st.text(alphabet=st.sampled_from(list("abcABC xyzXYZ019\t\n\r\x0b\x0c\x00\x1f\x7f!,.-_'\"~[]`@")),
                     max_size=80)


class TestAsciiTerms:
    @settings(max_examples=300, deadline=None)
    @given(ASCII_TEXT, ASCII_TEXT)
    def test_ascii_texts_agree_with_models(self, a, b):
        assert kivo.tfidf_similarity(a, b) == term_models.tfidf_similarity(a, b)
        assert kivo.bm25_similarity(a, b) == term_models.bm25_similarity(a, b)

    @pytest.mark.parametrize(
        "a, b",
        [
            ("The CAT sat", "the cat SAT!"),
            ("ÀB cd", "àb CD"),  # a non-ASCII text takes the general tokenizer
            ("ab cd", "AB ÇD"),
            ("ΣΑΣ ab", "σας AB"),
            ("", "abc"),
            ("...", "!!!"),
        ],
    )
    def test_ascii_and_general_paths_together(self, a, b):
        for x, y in ((a, b), (b, a)):
            assert kivo.tfidf_similarity(x, y) == term_models.tfidf_similarity(x, y)
            assert kivo.bm25_similarity(x, y) == term_models.bm25_similarity(x, y)

    def test_long_terms_and_many_terms(self):
        # Terms longer than a hash step, repeated many times.
        a = " ".join(["supercalifragilistic", "x" * 40, "Short"] * 300)
        b = " ".join(["SUPERCALIFRAGILISTIC", "y" * 40] * 200)
        assert kivo.tfidf_similarity(a, b) == term_models.tfidf_similarity(a, b)
        assert kivo.bm25_similarity(a, b) == term_models.bm25_similarity(a, b)


class TestMinHashKernel:
    @pytest.mark.parametrize("num_hashes", [1, 4, 15, 16, 17, 31, 32, 33, 64, 127, 128, 129, 200])
    @pytest.mark.parametrize("text", ["", "a", "hello world", "héllo wörld 日本語 😀" * 5])
    def test_block_widths_agree_with_model(self, num_hashes, text):
        expected = models.minhash_signature(text, 3, num_hashes)
        assert kivo.minhash_signature(text, 3, num_hashes) == expected
        assert all(v < (1 << 61) - 1 for v in expected)

    @settings(max_examples=60, deadline=None)
    @given(st.text(max_size=60), st.integers(1, 5), st.integers(0, 70))
    def test_agrees_with_model(self, text, k, m):
        assert kivo.minhash_signature(text, k, m) == models.minhash_signature(text, k, m)


class TestRouterResults:
    @pytest.mark.parametrize("algo, function, reported", ALGORITHMS)
    def test_cached_names_on_repeated_calls(self, algo, function, reported):
        flow = undecided(algo)
        for _ in range(3):  # the name objects are made once and then reused
            out = flow.compare("abcd", "abce")
            assert out["algorithm"] == reported
            assert out["score"] == function("abcd", "abce")
            assert list(out) == ["score", "tier", "algorithm", "fallback_called", "fallback_data"]

    def test_results_are_independent_dicts(self):
        flow = kivo.KivoFlow().tier_1("levenshtein", "gt", 0.9, "lt", 0.1)
        first = flow.compare("abc", "abd")
        first["score"] = -1.0
        first["extra"] = True
        del first["tier"]
        second = flow.compare("abc", "abd")
        assert second == {"score": 1 - 1 / 3, "tier": 1, "algorithm": "levenshtein",
                          "fallback_called": False, "fallback_data": ""}
        assert second is not first

    def test_settings_parsed_for_each_new_object(self):
        plain = kivo.KivoFlow().tier_1("levenshtein", "gt", 2.0, "lt", -1.0)
        cleaning = plain.preprocess(True)
        retiered = cleaning.tier_1("jaro_winkler", "gt", 2.0, "lt", -1.0)
        assert plain.compare("  ABC ", "abc")["score"] == kivo.levenshtein_similarity("  ABC ", "abc")
        assert cleaning.compare("  ABC ", "abc")["score"] == 1.0
        assert retiered.compare("  ABC ", "abd")["algorithm"] == "jaro_winkler"
        assert retiered.compare("  ABC ", "abd")["score"] == kivo.jaro_winkler_similarity("abc", "abd")
        assert plain.compare("  ABC ", "abc")["algorithm"] == "levenshtein"  # unchanged

    def test_tier_two_and_fallback_still_decide(self):
        flow = (kivo.KivoFlow().tier_1("levenshtein", "gt", 2.0, "lt", -1.0)
                .tier_2("jaro_winkler", "between", 0.0, 0.5))
        out = flow.compare("abc", "xyz")
        assert (out["tier"], out["algorithm"]) == (2, "jaro_winkler")
        out = flow.compare("abcd", "abce")
        assert (out["tier"], out["algorithm"], out["score"]) == (1, "levenshtein", 0.75)
        assert not math.isnan(out["score"])
