"""Hostile arguments: huge texts, lying objects, re-entrant conversions.

Every call here must end in a result or in the one documented exception; none
may crash, hang or allocate without bound.
"""

import copy
import os
import sys

import pytest

import kivo


@pytest.fixture(scope="module")
def hundred_mb():
    return "Hello  World, the\tcat\u3000sat " * (100_000_000 // 28)


class TestHugeTexts:
    def test_clean_text(self, hundred_mb):
        out = kivo.clean_text(hundred_mb)
        assert out.startswith("hello world, the cat sat hello") and out.endswith(" sat")

    def test_process_with_bound(self, hundred_mb):
        p = kivo.Preprocessor().with_remove_stopwords(True).with_max_length(12)
        assert p.process(hundred_mb) == "hello world,"

    def test_hamming_of_equal_and_nearly_equal_texts(self, hundred_mb):
        assert kivo.hamming_distance(hundred_mb, hundred_mb) == 0
        other = hundred_mb[:-1] + "x"
        assert kivo.hamming_distance(hundred_mb, other) == 1
        assert kivo.hamming_similarity(hundred_mb, other) == 1.0 - 1 / len(hundred_mb)

    def test_jaccard_word(self, hundred_mb):
        assert kivo.jaccard_word_similarity(hundred_mb, hundred_mb) == 1.0
        assert kivo.jaccard_word_similarity(hundred_mb, "Hello World,") == 2 / 5

    def test_equal_texts_take_the_shortcut(self, hundred_mb):
        assert kivo.levenshtein_distance(hundred_mb, hundred_mb) == 0
        assert kivo.jaro_winkler_similarity(hundred_mb, hundred_mb) == 1.0
        assert kivo.jaccard_similarity(hundred_mb, hundred_mb, 3) == 1.0


class WeirdStr(str):
    """A str subclass that lies about everything Python-level code could ask."""

    def __len__(self):
        return 0

    def __str__(self):
        return "zzz"

    def __eq__(self, other):
        return True

    __hash__ = str.__hash__

    def encode(self, *args, **kwargs):
        return b""

    def __iter__(self):
        return iter(["q"])


class TestStrSubclasses:
    def test_measures_read_the_characters(self):
        assert kivo.levenshtein_distance(WeirdStr("abc"), WeirdStr("abd")) == 1
        assert kivo.hamming_distance(WeirdStr("abc"), "abd") == 1
        assert kivo.jaccard_word_similarity(WeirdStr("a b"), "a") == 0.5

    def test_results_are_plain_str(self):
        out = kivo.clean_text(WeirdStr("  AB  "))
        assert type(out) is str and out == "ab"

    def test_as_names_and_stopwords(self):
        flow = kivo.KivoFlow().tier_1(WeirdStr("levenshtein"), WeirdStr("gt"), 0.5, "lt", 0.1)
        assert flow.compare("abc", "abc")["algorithm"] == "levenshtein"
        assert flow.compare_with_intent(WeirdStr("typos"), "ab", "ab")["score"] == 1.0
        p = kivo.Preprocessor().with_remove_stopwords(True).with_stopwords([WeirdStr("cat")])
        assert p.process("the cat") == "the"

    def test_str_subclass_is_not_a_word_list(self):
        with pytest.raises(TypeError, match="^Can't extract `str` to `Vec`"):
            kivo.Preprocessor().with_stopwords(WeirdStr("cat"))


class TestReentrancy:
    def test_conversion_code_calling_back_into_kivo(self):
        class Reentrant:
            def __index__(self):
                assert kivo.levenshtein_distance("abc", "abd") == 1
                return 2

            def __float__(self):
                flow = kivo.KivoFlow().tier_1("levenshtein", "gt", 0.5, "lt", 0.1)
                return flow.compare("a", "a")["score"] / 2

        assert kivo.jaccard_similarity("night", "nacht", Reentrant()) == 1 / 7
        flow = kivo.KivoFlow().tier_1("levenshtein", "gt", Reentrant(), "lt", Reentrant())
        assert flow.compare("ab", "ac")["score"] == 0.5


class TestObjectModel:
    def test_methods_refuse_a_foreign_self(self):
        with pytest.raises(TypeError):
            kivo.Preprocessor.process(kivo.KivoFlow(), "x")
        with pytest.raises(TypeError):
            kivo.KivoFlow.compare(kivo.Preprocessor(), "x", "y")
        with pytest.raises(TypeError):
            kivo.KivoFlow.tier_1("levenshtein", "gt", 0.5, "lt", 0.1)

    def test_constructors_refuse_a_foreign_type(self):
        with pytest.raises(TypeError):
            kivo.Preprocessor.__new__(kivo.KivoFlow)
        with pytest.raises(TypeError):
            kivo.KivoFlow.__new__(int)
        with pytest.raises(TypeError):
            object.__new__(kivo.Preprocessor)

    @pytest.mark.parametrize("cls", [kivo.Preprocessor, kivo.KivoFlow])
    def test_subclassing_refused_or_working(self, cls):
        try:
            sub = type("Sub", (cls,), {})
        except TypeError:
            return
        assert isinstance(sub(), cls)

    @pytest.mark.parametrize("obj", [kivo.Preprocessor().with_lowercase(False), kivo.KivoFlow()])
    def test_copies_are_faithful_or_refused(self, obj):
        try:
            clone = copy.copy(obj)
        except TypeError:
            return
        assert repr(clone) == repr(obj)

    @pytest.mark.parametrize(
        "cls, method", [(kivo.Preprocessor, "process"), (kivo.KivoFlow, "compare")]
    )
    def test_instances_and_classes_are_immutable(self, cls, method):
        obj = cls()
        with pytest.raises(AttributeError):
            obj.lowercase = False
        with pytest.raises(TypeError):
            setattr(cls, method, None)
        assert repr(obj) == repr(cls())


def test_nul_characters_are_ordinary_characters():
    assert kivo.levenshtein_distance("a\x00b", "a\x00c") == 1
    assert kivo.clean_text("A\x00\x00B") == "a\x00\x00b"
    assert kivo.jaccard_word_similarity("\x00 a", "a \x00") == 1.0


FUZZ_DIR = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "fuzz")


def test_fuzz_seed_corpus_replays_cleanly():
    """The fuzzing harness's checks hold on every input of the seed corpus."""
    sys.path.insert(0, FUZZ_DIR)
    try:
        import kivo_harness
    finally:
        sys.path.remove(FUZZ_DIR)
    corpus = os.path.join(FUZZ_DIR, "corpus")
    names = sorted(os.listdir(corpus))
    assert names
    for name in names:
        with open(os.path.join(corpus, name), "rb") as f:
            kivo_harness.check(f.read())
