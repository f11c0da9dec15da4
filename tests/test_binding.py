"""How every callable binds and converts its arguments, and how failures surface."""

import collections.abc
import importlib.util

import pytest

import kivo

FUNCTIONS = [
    ("levenshtein_distance", "a, b"),
    ("levenshtein_similarity", "a, b"),
    ("jaro_winkler_similarity", "a, b"),
    ("hamming_similarity", "a, b"),
    ("hamming_distance", "a, b"),
    ("jaccard_similarity", "a, b, n"),
    ("jaccard_bigram_similarity", "a, b"),
    ("jaccard_trigram_similarity", "a, b"),
    ("jaccard_word_similarity", "a, b"),
    ("minhash_signature", "text, shingle_size, num_hashes"),
    ("minhash_similarity", "a, b, shingle_size, num_hashes"),
    ("minhash_similarity_default", "a, b"),
    ("simhash_fingerprint", "text, shingle_size"),
    ("simhash_fingerprint_default", "text"),
    ("simhash_similarity", "a, b, shingle_size"),
    ("simhash_similarity_default", "a, b"),
    ("bm25_similarity", "a, b"),
    ("tfidf_similarity", "a, b"),
    ("clean_text", "text"),
    ("clean_text_stopwords", "text"),
]

METHODS = [
    ("Preprocessor", "with_lowercase", "v"),
    ("Preprocessor", "with_collapse_whitespace", "v"),
    ("Preprocessor", "with_trim", "v"),
    ("Preprocessor", "with_normalize_unicode", "v"),
    ("Preprocessor", "with_remove_stopwords", "v"),
    ("Preprocessor", "with_stopwords", "words"),
    ("Preprocessor", "with_max_length", "max"),
    ("Preprocessor", "process", "text"),
    ("KivoFlow", "preprocess", "enable"),
    ("KivoFlow", "tier_1", "algo, match_op, match_val, mismatch_op, mismatch_val"),
    ("KivoFlow", "tier_2", "algo, op, val1, val2"),
    ("KivoFlow", "compare_with_intent", "intent, a, b"),
    ("KivoFlow", "compare", "a, b"),
]


def raised(call):
    with pytest.raises(BaseException) as info:
        call()
    return info.value


class TestRegistration:
    def test_all_lists_functions_and_classes_in_registration_order(self):
        names = [name for name, _ in FUNCTIONS]
        expected = names[:18] + ["Preprocessor"] + names[18:] + ["KivoFlow"]
        assert kivo.__all__ == expected
        assert all(hasattr(kivo, name) for name in expected)

    def test_module_docstring_is_empty(self):
        assert kivo.__doc__ == ""

    def test_module_is_the_shared_library(self):
        assert kivo.__file__.endswith(".so")

    @pytest.mark.parametrize("name, params", FUNCTIONS)
    def test_function_docstring_is_its_text_signature(self, name, params):
        function = getattr(kivo, name)
        assert function.__doc__ is None
        assert function.__text_signature__ == f"({params})"
        assert function.__module__ == "kivo"
        assert function.__self__ is kivo

    @pytest.mark.parametrize("cls, name, params", METHODS)
    def test_method_docstring_is_its_text_signature(self, cls, name, params):
        method = getattr(getattr(kivo, cls), name)
        assert method.__doc__ is None
        assert method.__text_signature__ == f"($self, {params})"

    def test_methods_are_listed_in_order(self):
        for cls in ("Preprocessor", "KivoFlow"):
            declared = [name for owner, name, _ in METHODS if owner == cls]
            own = [name for name in vars(getattr(kivo, cls)) if not name.startswith("_")]
            assert own == declared

    @pytest.mark.parametrize("cls", ["Preprocessor", "KivoFlow"])
    def test_class_signature(self, cls):
        assert getattr(kivo, cls).__text_signature__ == "()"

    def test_exec_rejects_a_non_list_all(self):
        spec = importlib.util.find_spec("kivo")
        module = importlib.util.module_from_spec(spec)
        module.__all__ = ("x",)
        error = raised(lambda: spec.loader.exec_module(module))
        assert type(error) is TypeError
        assert str(error) == "'tuple' object is not an instance of 'list'"

    def test_exec_extends_an_existing_all(self):
        spec = importlib.util.find_spec("kivo")
        module = importlib.util.module_from_spec(spec)
        module.__all__ = ["x"]
        spec.loader.exec_module(module)
        assert module.__all__ == ["x"] + kivo.__all__

    def test_classes_are_created_once(self):
        spec = importlib.util.find_spec("kivo")
        module = importlib.util.module_from_spec(spec)
        spec.loader.exec_module(module)
        assert module.KivoFlow is kivo.KivoFlow
        assert module.Preprocessor is kivo.Preprocessor


class TestArgumentBinding:
    def test_keywords_bind_by_name(self):
        assert kivo.levenshtein_distance(b="x", a="y") == 1
        assert kivo.levenshtein_distance("ab", b="abc") == 1

    @pytest.mark.parametrize(
        "call, message",
        [
            (lambda: kivo.levenshtein_distance("a"),
             "levenshtein_distance() missing 1 required positional argument: 'b'"),
            (lambda: kivo.levenshtein_distance(),
             "levenshtein_distance() missing 2 required positional arguments: 'a' and 'b'"),
            (lambda: kivo.minhash_similarity("a"),
             "minhash_similarity() missing 3 required positional arguments: "
             "'b', 'shingle_size', and 'num_hashes'"),
            (lambda: kivo.minhash_similarity(),
             "minhash_similarity() missing 4 required positional arguments: "
             "'a', 'b', 'shingle_size', and 'num_hashes'"),
            (lambda: kivo.levenshtein_distance(b="x"),
             "levenshtein_distance() missing 1 required positional argument: 'a'"),
            (lambda: kivo.hamming_distance("a", "b", "c"),
             "hamming_distance() takes 2 positional arguments but 3 were given"),
            (lambda: kivo.clean_text("a", "b"),
             "clean_text() takes 1 positional arguments but 2 were given"),
            (lambda: kivo.clean_text(text="a", txt="b"),
             "clean_text() got an unexpected keyword argument 'txt'"),
            (lambda: kivo.levenshtein_distance("a", "b", a="c"),
             "levenshtein_distance() got multiple values for argument 'a'"),
            (lambda: kivo.KivoFlow(1),
             "KivoFlow.__new__() takes 0 positional arguments but 1 was given"),
            (lambda: kivo.KivoFlow(1, 2),
             "KivoFlow.__new__() takes 0 positional arguments but 2 were given"),
            (lambda: kivo.Preprocessor(x=1),
             "Preprocessor.__new__() got an unexpected keyword argument 'x'"),
            (lambda: kivo.Preprocessor().with_trim(),
             "Preprocessor.with_trim() missing 1 required positional argument: 'v'"),
            (lambda: kivo.Preprocessor().process("a", "b"),
             "Preprocessor.process() takes 1 positional arguments but 2 were given"),
            (lambda: kivo.KivoFlow().tier_1("levenshtein", "gt", 0.5),
             "KivoFlow.tier_1() missing 2 required positional arguments: "
             "'mismatch_op' and 'mismatch_val'"),
        ],
    )
    def test_binding_errors(self, call, message):
        error = raised(call)
        assert type(error) is TypeError
        assert str(error) == message
        assert not hasattr(error, "__notes__")

    def test_too_many_is_reported_before_keyword_errors(self):
        error = raised(lambda: kivo.levenshtein_distance("a", "b", "c", z=1))
        assert "takes 2 positional arguments but 3 were given" in str(error)


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class BadIndex:
    def __index__(self):
        raise RuntimeError("no index")


class Real:
    def __float__(self):
        return 0.25


class MyStr(str):
    pass


def fake_numpy_bool(truth=None):
    namespace = {"__module__": "numpy"}
    if truth is not None:
        namespace["__bool__"] = lambda self: truth
    return type("bool_", (), namespace)()


def with_max_length(value):
    return kivo.Preprocessor().with_max_length(value)


class TestConversion:
    @pytest.mark.parametrize(
        "value, expected_type, message",
        [
            (1, TypeError, "'int' object is not an instance of 'str'"),
            (b"x", TypeError, "'bytes' object is not an instance of 'str'"),
            (None, TypeError, "'None' is not an instance of 'str'"),
            ("\ud800", UnicodeEncodeError, None),
        ],
    )
    def test_str_rejections_carry_the_parameter_note(self, value, expected_type, message):
        error = raised(lambda: kivo.levenshtein_distance("x", value))
        assert type(error) is expected_type
        if message is not None:
            assert str(error) == message
        assert error.__notes__ == ["while processing 'b'"]

    def test_first_failing_argument_is_reported(self):
        error = raised(lambda: kivo.levenshtein_distance(1, 2))
        assert error.__notes__ == ["while processing 'a'"]

    def test_nested_qualified_type_name(self):
        class Outer:
            class Inner:
                pass

        error = raised(lambda: kivo.clean_text(Outer.Inner()))
        assert "Outer.Inner' object is not an instance of 'str'" in str(error)

    def test_str_subclass_accepted(self):
        assert kivo.levenshtein_distance(MyStr("abc"), "abd") == 1

    @pytest.mark.parametrize(
        "value", [0, 1, 2**64 - 1, True, Index(7), Index(2**64 - 1)]
    )
    def test_unsigned_accepts_integers(self, value):
        assert isinstance(with_max_length(value), kivo.Preprocessor)

    @pytest.mark.parametrize(
        "value, expected_type",
        [
            (-1, OverflowError),
            (2**64, OverflowError),
            (Index(-5), OverflowError),
            (2.0, TypeError),
            ("3", TypeError),
            (None, TypeError),
            (BadIndex(), RuntimeError),
        ],
    )
    def test_unsigned_rejections(self, value, expected_type):
        error = raised(lambda: with_max_length(value))
        assert type(error) is expected_type
        assert error.__notes__ == ["while processing 'max'"]

    def test_bool_accepts_only_bools(self):
        p = kivo.Preprocessor()
        assert repr(p.with_lowercase(False)) == "Preprocessor(lowercase=false, stopwords=false)"
        for value in (0, 1, None, "yes", 1.0):
            error = raised(lambda: p.with_lowercase(value))
            assert type(error) is TypeError
            assert error.__notes__ == ["while processing 'v'"]
        assert str(raised(lambda: p.with_lowercase(1))) == "'int' object is not an instance of 'bool'"
        assert str(raised(lambda: p.with_lowercase(None))) == "'None' is not an instance of 'bool'"

    def test_numpy_bool_accepted(self):
        numpy = pytest.importorskip("numpy")
        p = kivo.Preprocessor()
        assert repr(p.with_lowercase(numpy.bool_(False))) == (
            "Preprocessor(lowercase=false, stopwords=false)"
        )
        assert repr(p.with_remove_stopwords(numpy.bool_(True))) == (
            "Preprocessor(lowercase=true, stopwords=true)"
        )

    def test_numpy_like_bool_without_truth_conversion(self):
        error = raised(lambda: kivo.Preprocessor().with_trim(fake_numpy_bool()))
        assert type(error) is TypeError
        assert str(error) == "object of type 'bool_' does not define a '__bool__' conversion"
        assert error.__notes__ == ["while processing 'v'"]

    def test_numpy_like_bool_uses_its_truth_conversion(self):
        p = kivo.Preprocessor().with_lowercase(fake_numpy_bool(False))
        assert repr(p) == "Preprocessor(lowercase=false, stopwords=false)"

    def test_bool_named_type_outside_numpy_rejected(self):
        fake = type("bool_", (), {"__bool__": lambda self: True})()
        error = raised(lambda: kivo.Preprocessor().with_trim(fake))
        assert str(error) == "'bool_' object is not an instance of 'bool'"

    @pytest.mark.parametrize("value", [0.5, 1, True, Real(), Index(3)])
    def test_float_accepts_real_numbers(self, value):
        assert isinstance(kivo.KivoFlow().tier_1("levenshtein", "gt", value, "lt", 0.1), kivo.KivoFlow)

    @pytest.mark.parametrize("value", ["0.5", None, b"1"])
    def test_float_rejections(self, value):
        error = raised(lambda: kivo.KivoFlow().tier_1("levenshtein", "gt", value, "lt", 0.1))
        assert type(error) is TypeError
        assert error.__notes__ == ["while processing 'match_val'"]


class Registered:
    """Registered as a Sequence but without the sequence protocol."""

    def __len__(self):
        return 1

    def __iter__(self):
        return iter(["a"])


collections.abc.Sequence.register(Registered)


class LyingLength(list):
    def __len__(self):
        return 10**12


class FailingLength(list):
    def __len__(self):
        raise RuntimeError("no length")


class FailingIteration(list):
    def __iter__(self):
        raise RuntimeError("no iteration")


class TestStringListConversion:
    @pytest.mark.parametrize(
        "words", [["the"], ("the",), [], LyingLength(["the"]), FailingLength(["the"])]
    )
    def test_sequences_accepted(self, words):
        assert isinstance(kivo.Preprocessor().with_stopwords(words), kivo.Preprocessor)

    @pytest.mark.parametrize(
        "words, message",
        [
            ("cat", "Can't extract `str` to `Vec`"),
            (MyStr("cat"), "Can't extract `str` to `Vec`"),
            ({"cat"}, "'set' object is not an instance of 'Sequence'"),
            ({"cat": 1}, "'dict' object is not an instance of 'Sequence'"),
            ((w for w in ["cat"]), "'generator' object is not an instance of 'Sequence'"),
            (Registered(), "'Registered' object is not an instance of 'Sequence'"),
            (None, "'None' is not an instance of 'Sequence'"),
            (["a", 1], "'int' object is not an instance of 'str'"),
        ],
    )
    def test_rejections(self, words, message):
        error = raised(lambda: kivo.Preprocessor().with_stopwords(words))
        assert type(error) is TypeError
        assert str(error) == message
        assert error.__notes__ == ["while processing 'words'"]

    @pytest.mark.parametrize(
        "words, expected_type",
        [(["ok", "\udc80"], UnicodeEncodeError), (FailingIteration(["a"]), RuntimeError)],
    )
    def test_python_errors_pass_through(self, words, expected_type):
        error = raised(lambda: kivo.Preprocessor().with_stopwords(words))
        assert type(error) is expected_type
        assert error.__notes__ == ["while processing 'words'"]


class TestPanicException:
    def test_derives_directly_from_base_exception(self):
        assert kivo.PanicException.__bases__ == (BaseException,)
        assert not issubclass(kivo.PanicException, Exception)

    def test_not_exported_in_all(self):
        assert "PanicException" not in kivo.__all__

    def test_internal_fault_becomes_panic_exception(self):
        error = raised(lambda: kivo.jaccard_similarity("abc", "abd", 0))
        assert type(error) is kivo.PanicException
        assert str(error) == "window size must be non-zero"
        assert error.args == ("window size must be non-zero",)


def test_unexpected_keyword_holding_a_lone_surrogate_is_a_type_error():
    for call in (lambda: kivo.clean_text(**{"\ud800": 1}), lambda: kivo.KivoFlow(**{"\ud800": 1})):
        error = raised(call)
        assert type(error) is TypeError
        assert str(error).endswith("got an unexpected keyword argument '\ud800'")
