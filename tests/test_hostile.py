"""Hostile arguments: extreme sizes, huge texts, lying objects, odd floats.

Every call here must end in a result or in the one documented exception; none
may crash, hang or allocate without bound.
"""

import math
import os
import resource
import sys

import pytest

import kivo

U64_MAX = 2**64 - 1
SIZES = [0, 1, 2**32, 2**63, U64_MAX]
WINDOW_ERROR = "window size must be non-zero"
FNV_OF_ABC = 16654208175385433931
SIGNATURE_OF_ABC = [107385297314013898, 2242858558886249666]

T, U, F, B, L = "text", "uint", "float", "bool", "texts"

# Every callable with its parameters, their kinds, and arguments that convert.
CALLABLES = [
    (kivo.levenshtein_distance, [("a", T), ("b", T)]),
    (kivo.levenshtein_similarity, [("a", T), ("b", T)]),
    (kivo.jaro_winkler_similarity, [("a", T), ("b", T)]),
    (kivo.hamming_similarity, [("a", T), ("b", T)]),
    (kivo.hamming_distance, [("a", T), ("b", T)]),
    (kivo.jaccard_similarity, [("a", T), ("b", T), ("n", U)]),
    (kivo.jaccard_bigram_similarity, [("a", T), ("b", T)]),
    (kivo.jaccard_trigram_similarity, [("a", T), ("b", T)]),
    (kivo.jaccard_word_similarity, [("a", T), ("b", T)]),
    (kivo.minhash_signature, [("text", T), ("shingle_size", U), ("num_hashes", U)]),
    (kivo.minhash_similarity, [("a", T), ("b", T), ("shingle_size", U), ("num_hashes", U)]),
    (kivo.minhash_similarity_default, [("a", T), ("b", T)]),
    (kivo.simhash_fingerprint, [("text", T), ("shingle_size", U)]),
    (kivo.simhash_fingerprint_default, [("text", T)]),
    (kivo.simhash_similarity, [("a", T), ("b", T), ("shingle_size", U)]),
    (kivo.simhash_similarity_default, [("a", T), ("b", T)]),
    (kivo.bm25_similarity, [("a", T), ("b", T)]),
    (kivo.tfidf_similarity, [("a", T), ("b", T)]),
    (kivo.clean_text, [("text", T)]),
    (kivo.clean_text_stopwords, [("text", T)]),
    (kivo.Preprocessor().with_lowercase, [("v", B)]),
    (kivo.Preprocessor().with_collapse_whitespace, [("v", B)]),
    (kivo.Preprocessor().with_trim, [("v", B)]),
    (kivo.Preprocessor().with_normalize_unicode, [("v", B)]),
    (kivo.Preprocessor().with_remove_stopwords, [("v", B)]),
    (kivo.Preprocessor().with_stopwords, [("words", L)]),
    (kivo.Preprocessor().with_max_length, [("max", U)]),
    (kivo.Preprocessor().process, [("text", T)]),
    (kivo.KivoFlow().preprocess, [("enable", B)]),
    (
        kivo.KivoFlow().tier_1,
        [("algo", T), ("match_op", T), ("match_val", F), ("mismatch_op", T), ("mismatch_val", F)],
    ),
    (kivo.KivoFlow().tier_2, [("algo", T), ("op", T), ("val1", F), ("val2", F)]),
    (kivo.KivoFlow().compare_with_intent, [("intent", T), ("a", T), ("b", T)]),
    (kivo.KivoFlow().compare, [("a", T), ("b", T)]),
]
GOOD = {T: "gt", U: 3, F: 0.5, B: True, L: ["x"]}


class Raises:
    """Its conversions raise a fresh `error_class` each time."""

    def __init__(self, error_class):
        self.error_class = error_class

    def __index__(self):
        raise self.error_class("index")

    def __float__(self):
        raise self.error_class("float")


class Returns:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value

    def __float__(self):
        return self.value


def numpy_like_bool(truth):
    return type("bool_", (), {"__module__": "numpy", "__bool__": truth})()


def raised(call):
    with pytest.raises(BaseException) as info:
        call()
    return info.value


def assert_conversion_error(call, error_class, param):
    error = raised(call)
    assert type(error) is error_class, repr(error)
    assert error.__notes__ == [f"while processing '{param}'"]
    return error


def params_of(kinds):
    return [
        pytest.param(fn, params, i, id=f"{getattr(fn, '__qualname__', fn.__name__)}-{name}")
        for fn, params in CALLABLES
        for i, (name, kind) in enumerate(params)
        if kind in kinds
    ]


def args_with(params, i, value):
    args = [GOOD[kind] for _, kind in params]
    args[i] = value
    return args


class TestEveryParameter:
    """Each argument of each callable rejects what it cannot convert, naming itself."""

    @pytest.mark.parametrize("fn, params, i", params_of({T}))
    @pytest.mark.parametrize("bad", ["\ud800", "ok\udfff", "\udbff\udc00"])
    def test_lone_surrogates_in_any_text(self, fn, params, i, bad):
        call = lambda: fn(*args_with(params, i, bad))  # noqa: E731
        assert_conversion_error(call, UnicodeEncodeError, params[i][0])

    @pytest.mark.parametrize("fn, params, i", params_of({T}))
    @pytest.mark.parametrize("bad", [b"abc", None, 1, ["a"]])
    def test_text_of_another_type(self, fn, params, i, bad):
        assert_conversion_error(lambda: fn(*args_with(params, i, bad)), TypeError, params[i][0])

    @pytest.mark.parametrize("fn, params, i", params_of({U}))
    @pytest.mark.parametrize(
        "bad, error",
        [
            (-1, OverflowError),
            (2**64, OverflowError),
            (-(2**200), OverflowError),
            (Returns(-1), OverflowError),
            (Returns(2**64), OverflowError),
            (Returns("7"), TypeError),
            (Returns(7.0), TypeError),
            (Raises(KeyError), KeyError),
            (1.0, TypeError),
            ("3", TypeError),
        ],
    )
    def test_unsigned_rejections(self, fn, params, i, bad, error):
        assert_conversion_error(lambda: fn(*args_with(params, i, bad)), error, params[i][0])

    @pytest.mark.parametrize("fn, params, i", params_of({F}))
    @pytest.mark.parametrize(
        "bad, error",
        [
            (2**1024, OverflowError),
            (Returns("0.5"), TypeError),
            (Returns(None), TypeError),
            (Raises(KeyError), KeyError),
            ("0.5", TypeError),
            (None, TypeError),
        ],
    )
    def test_float_rejections(self, fn, params, i, bad, error):
        assert_conversion_error(lambda: fn(*args_with(params, i, bad)), error, params[i][0])

    @pytest.mark.parametrize("fn, params, i", params_of({B}))
    @pytest.mark.parametrize(
        "bad, error",
        [
            (1, TypeError),
            (None, TypeError),
            (numpy_like_bool(lambda self: 1), TypeError),
            (numpy_like_bool(lambda self: {}[0]), KeyError),
        ],
    )
    def test_bool_rejections(self, fn, params, i, bad, error):
        assert_conversion_error(lambda: fn(*args_with(params, i, bad)), error, params[i][0])


class TestSizes:
    @pytest.mark.parametrize("n", SIZES)
    def test_jaccard_window(self, n):
        if n == 0:
            error = raised(lambda: kivo.jaccard_similarity("abc", "abd", n))
            assert type(error) is kivo.PanicException and str(error) == WINDOW_ERROR
            assert kivo.jaccard_similarity("abc", "abc", n) == 1.0
        elif n == 1:
            assert kivo.jaccard_similarity("abc", "abd", n) == 0.5
        else:
            # Windows wider than the text: each text is its own single shingle.
            assert kivo.jaccard_similarity("abc", "abd", n) == 0.0

    @pytest.mark.parametrize("size", SIZES)
    def test_simhash_shingle_size(self, size):
        if size == 0:
            for call in (
                lambda: kivo.simhash_fingerprint("abc", size),
                lambda: kivo.simhash_similarity("abc", "abc", size),
            ):
                error = raised(call)
                assert type(error) is kivo.PanicException and str(error) == WINDOW_ERROR
            return
        if size > 3:
            assert kivo.simhash_fingerprint("abc", size) == FNV_OF_ABC
        assert kivo.simhash_similarity("abc", "abc", size) == 1.0

    @pytest.mark.parametrize("size", SIZES)
    def test_minhash_shingle_size(self, size):
        if size == 0:
            for call in (
                lambda: kivo.minhash_signature("abc", size, 2),
                lambda: kivo.minhash_similarity("abc", "abc", size, 2),
                lambda: kivo.minhash_signature("abc", size, U64_MAX),
            ):
                error = raised(call)
                assert type(error) is kivo.PanicException and str(error) == WINDOW_ERROR
            return
        if size >= 3:
            assert kivo.minhash_signature("abc", size, 2) == SIGNATURE_OF_ABC
        assert kivo.minhash_similarity("abc", "abc", size, 2) == 1.0

    def test_minhash_no_hash_functions(self):
        assert kivo.minhash_signature("abc", 3, 0) == []
        assert math.isnan(kivo.minhash_similarity("abc", "abd", 3, 0))

    def test_minhash_one_hash_function(self):
        assert kivo.minhash_signature("abc", 3, 1) == SIGNATURE_OF_ABC[:1]
        assert kivo.minhash_similarity("abc", "abc", 3, 1) == 1.0

    @pytest.mark.parametrize("num_hashes", [2**63, U64_MAX, 2**61, 2**40])
    def test_minhash_beyond_memory_is_refused_up_front(self, num_hashes):
        before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        for call in (
            lambda: kivo.minhash_signature("abc", 3, num_hashes),
            lambda: kivo.minhash_similarity("abc", "abd", 3, num_hashes),
        ):
            assert type(raised(call)) is MemoryError
        grown_kib = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before
        assert grown_kib < 64 * 1024

    def test_minhash_2_pow_32_hashes(self):
        # 2^32 entries need 32 GiB or more: refused on any machine that lacks
        # it; on a bigger one the call would run, so it is not made there.
        physical = os.sysconf("SC_PHYS_PAGES") * os.sysconf("SC_PAGE_SIZE")
        if physical >= 2**32 * 16:
            pytest.skip("enough memory to compute 2^32 hash functions")
        assert type(raised(lambda: kivo.minhash_signature("abc", 3, 2**32))) is MemoryError
        assert type(raised(lambda: kivo.minhash_similarity("a", "b", 3, 2**32))) is MemoryError

    @pytest.mark.parametrize("limit", [2**63, U64_MAX])
    def test_max_length_beyond_any_text(self, limit):
        p = kivo.Preprocessor().with_max_length(limit)
        assert p.process("  Hello \t World ") == "hello world"

    def test_max_length_inside_a_character_stays_valid_text(self):
        p = kivo.Preprocessor().with_max_length(2)
        assert p.process("h\u00e9llo") == "h"
        assert kivo.Preprocessor().with_max_length(3).process("\U0001f600") == ""


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
        error = assert_conversion_error(
            lambda: kivo.Preprocessor().with_stopwords(WeirdStr("cat")), TypeError, "words"
        )
        assert str(error) == "Can't extract `str` to `Vec`"


class LyingLength(list):
    def __init__(self, items, length):
        super().__init__(items)
        self.length = length

    def __len__(self):
        return self.length


class FailingLength(list):
    def __len__(self):
        raise RuntimeError("no length")


def failing_midway():
    yield "cat"
    raise KeyError("midway")


class FailingIteration(list):
    def __iter__(self):
        return failing_midway()


class NotAnIterator(list):
    def __iter__(self):
        return 5


class YieldsNonStr(list):
    def __iter__(self):
        return iter(["cat", 7])


def removing(words):
    return kivo.Preprocessor().with_remove_stopwords(True).with_stopwords(words)


class TestLyingSequences:
    @pytest.mark.parametrize("length", [0, 1, 2**62, 2**63 - 1])
    def test_length_is_only_a_hint(self, length):
        assert removing(LyingLength(["cat", "hat"], length)).process("the cat hat") == "the"

    def test_failing_length(self):
        # The length only sizes the list; the words come from iteration.
        try:
            p = removing(FailingLength(["cat"]))
        except RuntimeError as error:
            assert error.__notes__ == ["while processing 'words'"]
        else:
            assert p.process("the cat") == "the"

    @pytest.mark.parametrize(
        "words, error",
        [
            (FailingIteration(["x"]), KeyError),
            (NotAnIterator(["x"]), TypeError),
            (YieldsNonStr([]), TypeError),
            (["cat", "\ud800"], UnicodeEncodeError),
            ({"cat"}, TypeError),
            ({"cat": 1}, TypeError),
            (iter(["cat"]), TypeError),
        ],
    )
    def test_failures_while_reading_words(self, words, error):
        p = kivo.Preprocessor()
        assert_conversion_error(lambda: p.with_stopwords(words), error, "words")
        assert p.process("The Cat") == "the cat"

    def test_list_mutated_by_its_own_iterator(self):
        class Growing(list):
            def __iter__(self):
                for word in list.__iter__(self):
                    self.append(word + "!")
                    if len(self) > 50:
                        break
                    yield word

        p = removing(Growing(["cat"]))
        assert p.process("cat cat! hat") == "hat"


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
        import copy

        try:
            clone = copy.copy(obj)
        except TypeError:
            return
        assert repr(clone) == repr(obj)

    def test_instances_and_classes_are_immutable(self):
        p = kivo.Preprocessor()
        with pytest.raises((AttributeError, TypeError)):
            p.lowercase = False
        with pytest.raises(TypeError):
            kivo.Preprocessor.process = None
        assert p.process("A") == "a"

    def test_absurd_argument_counts(self):
        error = raised(lambda: kivo.clean_text(*["a"] * 1000))
        assert str(error) == "clean_text() takes 1 positional arguments but 1000 were given"
        error = raised(lambda: kivo.KivoFlow(*range(5)))
        assert str(error) == "KivoFlow.__new__() takes 0 positional arguments but 5 were given"


class TestHostileNames:
    @pytest.mark.parametrize("name", ["lev\x00enshtein", "\x00", "x" * 100_000, "{}%s%n"])
    def test_unknown_names_are_quoted_whole(self, name):
        flow = kivo.KivoFlow()
        error = raised(lambda: flow.tier_1(name, "gt", 0.5, "lt", 0.1))
        assert type(error) is ValueError and str(error) == f"unknown algorithm: {name}"
        error = raised(lambda: flow.tier_2("bm25", name, 0.5, 0.1))
        assert type(error) is ValueError and str(error) == f"unknown threshold op: {name}"
        error = raised(lambda: flow.compare_with_intent(name, "a", "b"))
        assert type(error) is ValueError and str(error) == f"unknown intent: {name}"

    def test_nul_characters_are_ordinary_characters(self):
        assert kivo.levenshtein_distance("a\x00b", "a\x00c") == 1
        assert kivo.clean_text("A\x00\x00B") == "a\x00\x00b"
        assert kivo.jaccard_word_similarity("\x00 a", "a \x00") == 1.0


NAN, INF = math.nan, math.inf


class TestOddThresholds:
    @pytest.mark.parametrize(
        "match_val, mismatch_val, texts, tier",
        [
            (NAN, NAN, ("abc", "abd"), 2),  # NaN never decides
            (-INF, NAN, ("abc", "xyz"), 1),  # 0.0 > -inf decides at once
            (NAN, INF, ("abc", "abc"), 1),  # 1.0 < inf decides at once
            (INF, -INF, ("abc", "abc"), 2),  # nothing exceeds these bounds
        ],
    )
    def test_tier_1_with_nan_and_infinities(self, match_val, mismatch_val, texts, tier):
        flow = (
            kivo.KivoFlow()
            .tier_1("levenshtein", "gt", match_val, "lt", mismatch_val)
            .tier_2("levenshtein", "between", -INF, INF)
        )
        result = flow.compare(*texts)
        assert result["tier"] == tier
        assert result["score"] == kivo.levenshtein_similarity(*texts)

    @pytest.mark.parametrize(
        "op, low, high, decides",
        [
            ("between", -INF, INF, True),
            ("between", NAN, INF, False),
            ("between", -INF, NAN, False),
            ("between", INF, -INF, False),
            ("gt", NAN, 0.0, False),
            ("gt", -INF, 0.0, True),
            ("lt", INF, 0.0, True),
            ("lt", -0.0, 0.0, False),
            ("greater_than", 5e-324, NAN, True),
        ],
    )
    def test_tier_2_alone(self, op, low, high, decides):
        flow = kivo.KivoFlow().tier_2("levenshtein", op, low, high)
        if decides:
            result = flow.compare("ab", "ac")
            assert (result["tier"], result["score"]) == (2, 0.5)
        else:
            error = raised(lambda: flow.compare("ab", "ac"))
            assert type(error) is ValueError
            assert str(error) == "Router configuration error: No tiers configured"

    def test_nan_bounds_behind_an_undecided_tier_1(self):
        flow = (
            kivo.KivoFlow()
            .tier_1("levenshtein", "gt", NAN, "lt", NAN)
            .tier_2("jaccard_word", "between", NAN, NAN)
        )
        result = flow.compare("a b", "a")
        assert result["tier"] == 1 and result["algorithm"] == "levenshtein"


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
