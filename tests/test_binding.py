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

# The kind of each parameter, and an argument of that kind that converts.
UINTS = {"n", "shingle_size", "num_hashes", "max"}
FLOATS = {"match_val", "mismatch_val", "val1", "val2"}
BOOLS = {"v", "enable"}
GOOD = {"uint": 3, "float": 0.5, "bool": True, "words": ["x"], "text": "gt"}


def kind_of(param):
    for kind, names in (("uint", UINTS), ("float", FLOATS), ("bool", BOOLS), ("words", {"words"})):
        if param in names:
            return kind
    return "text"


CALLABLES = [(getattr(kivo, name), params.split(", ")) for name, params in FUNCTIONS] + [
    (getattr(getattr(kivo, cls)(), name), params.split(", ")) for cls, name, params in METHODS
]


def each_parameter(kind):
    return [
        pytest.param(fn, params, i, id=f"{fn.__qualname__}-{param}")
        for fn, params in CALLABLES
        for i, param in enumerate(params)
        if kind_of(param) == kind
    ]


def call_with(fn, params, i, value):
    args = [GOOD[kind_of(p)] for p in params]
    args[i] = value
    return fn(*args)


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
        assert "PanicException" not in kivo.__all__

    def test_module_docstring_is_empty_and_module_is_the_shared_library(self):
        assert kivo.__doc__ == ""
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

    @pytest.mark.parametrize("cls", ["Preprocessor", "KivoFlow"])
    def test_class_signature_and_methods_in_order(self, cls):
        assert getattr(kivo, cls).__text_signature__ == "()"
        declared = [name for owner, name, _ in METHODS if owner == cls]
        own = [name for name in vars(getattr(kivo, cls)) if not name.startswith("_")]
        assert own == declared

    def fresh_module(self, all_value):
        spec = importlib.util.find_spec("kivo")
        module = importlib.util.module_from_spec(spec)
        if all_value is not None:
            module.__all__ = all_value
        return spec, module

    def test_exec_rejects_a_non_list_all(self):
        spec, module = self.fresh_module(("x",))
        error = raised(lambda: spec.loader.exec_module(module))
        assert type(error) is TypeError
        assert str(error) == "'tuple' object is not an instance of 'list'"

    def test_exec_extends_an_existing_all_and_creates_classes_once(self):
        spec, module = self.fresh_module(["x"])
        spec.loader.exec_module(module)
        assert module.__all__ == ["x"] + kivo.__all__
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
            (lambda: kivo.clean_text(*["a"] * 1000),
             "clean_text() takes 1 positional arguments but 1000 were given"),
            (lambda: kivo.clean_text(text="a", txt="b"),
             "clean_text() got an unexpected keyword argument 'txt'"),
            (lambda: kivo.levenshtein_distance("a", "b", a="c"),
             "levenshtein_distance() got multiple values for argument 'a'"),
            # Too many positionals is reported before keyword errors.
            (lambda: kivo.levenshtein_distance("a", "b", "c", z=1),
             "levenshtein_distance() takes 2 positional arguments but 3 were given"),
            (lambda: kivo.KivoFlow(1),
             "KivoFlow.__new__() takes 0 positional arguments but 1 was given"),
            (lambda: kivo.KivoFlow(*range(5)),
             "KivoFlow.__new__() takes 0 positional arguments but 5 were given"),
            (lambda: kivo.Preprocessor(x=1),
             "Preprocessor.__new__() got an unexpected keyword argument 'x'"),
            (lambda: kivo.clean_text(**{"\ud800": 1}),
             "clean_text() got an unexpected keyword argument '\ud800'"),
            (lambda: kivo.KivoFlow(**{"\ud800": 1}),
             "KivoFlow.__new__() got an unexpected keyword argument '\ud800'"),
            (lambda: kivo.Preprocessor().with_trim(),
             "Preprocessor.with_trim() missing 1 required positional argument: 'v'"),
            (lambda: kivo.Preprocessor().process("a", "b"),
             "Preprocessor.process() takes 1 positional arguments but 2 were given"),
            (lambda: kivo.KivoFlow().tier_1("levenshtein", "gt", 0.5),
             "KivoFlow.tier_1() missing 2 required positional arguments: "
             "'mismatch_op' and 'mismatch_val'"),
            (lambda: kivo.KivoFlow().tier_2("levenshtein", val2=0.5),
             "KivoFlow.tier_2() missing 2 required positional arguments: 'op' and 'val1'"),
            (lambda: kivo.KivoFlow().preprocess(True, enable=False),
             "KivoFlow.preprocess() got multiple values for argument 'enable'"),
        ],
    )
    def test_binding_errors(self, call, message):
        error = raised(call)
        assert type(error) is TypeError
        assert str(error) == message
        assert not hasattr(error, "__notes__")


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


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class MyStr(str):
    pass


def numpy_like_bool(truth=None):
    namespace = {"__module__": "numpy"}
    if truth is not None:
        namespace["__bool__"] = truth
    return type("bool_", (), namespace)()


class TestEveryParameter:
    """Each argument of each callable rejects what it cannot convert, naming itself."""

    def check(self, fn, params, i, bad, error_class):
        error = raised(lambda: call_with(fn, params, i, bad))
        assert type(error) is error_class, repr(error)
        assert error.__notes__ == [f"while processing '{params[i]}'"]

    @pytest.mark.parametrize("fn, params, i", each_parameter("text"))
    @pytest.mark.parametrize(
        "bad, error",
        [("ok\udfff", UnicodeEncodeError), ("\udbff\udc00", UnicodeEncodeError),
         (b"abc", TypeError), (None, TypeError), (["a"], TypeError)],
    )
    def test_text_rejections(self, fn, params, i, bad, error):
        self.check(fn, params, i, bad, error)

    @pytest.mark.parametrize("fn, params, i", each_parameter("uint"))
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
        self.check(fn, params, i, bad, error)

    @pytest.mark.parametrize("fn, params, i", each_parameter("float"))
    @pytest.mark.parametrize(
        "bad, error",
        [
            (2**1024, OverflowError),
            (Returns("0.5"), TypeError),
            (Returns(None), TypeError),
            (Raises(KeyError), KeyError),
            ("0.5", TypeError),
            (None, TypeError),
            (b"1", TypeError),
        ],
    )
    def test_float_rejections(self, fn, params, i, bad, error):
        self.check(fn, params, i, bad, error)

    @pytest.mark.parametrize("fn, params, i", each_parameter("bool"))
    @pytest.mark.parametrize(
        "bad, error",
        [
            (1, TypeError),
            (None, TypeError),
            ("yes", TypeError),
            (1.0, TypeError),
            (numpy_like_bool(lambda self: 1), TypeError),
            (numpy_like_bool(lambda self: {}[0]), KeyError),
        ],
    )
    def test_bool_rejections(self, fn, params, i, bad, error):
        self.check(fn, params, i, bad, error)


class TestConversion:
    @pytest.mark.parametrize(
        "value, message",
        [
            (1, "'int' object is not an instance of 'str'"),
            (b"x", "'bytes' object is not an instance of 'str'"),
            (None, "'None' is not an instance of 'str'"),
        ],
    )
    def test_str_rejection_messages(self, value, message):
        assert str(raised(lambda: kivo.levenshtein_distance("x", value))) == message

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

    @pytest.mark.parametrize("value", [0, 1, 2**64 - 1, True, Index(7), Index(2**64 - 1)])
    def test_unsigned_accepts_integers(self, value):
        assert isinstance(kivo.Preprocessor().with_max_length(value), kivo.Preprocessor)

    def test_bool_accepts_only_bools(self):
        p = kivo.Preprocessor()
        assert repr(p.with_lowercase(False)) == "Preprocessor(lowercase=false, stopwords=false)"
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

    def test_numpy_like_bool_uses_its_truth_conversion(self):
        p = kivo.Preprocessor().with_lowercase(numpy_like_bool(lambda self: False))
        assert repr(p) == "Preprocessor(lowercase=false, stopwords=false)"

    def test_numpy_like_bool_without_truth_conversion(self):
        error = raised(lambda: kivo.Preprocessor().with_trim(numpy_like_bool()))
        assert type(error) is TypeError
        assert str(error) == "object of type 'bool_' does not define a '__bool__' conversion"
        assert error.__notes__ == ["while processing 'v'"]

    def test_bool_named_type_outside_numpy_rejected(self):
        fake = type("bool_", (), {"__bool__": lambda self: True})()
        error = raised(lambda: kivo.Preprocessor().with_trim(fake))
        assert str(error) == "'bool_' object is not an instance of 'bool'"

    @pytest.mark.parametrize("value", [0.5, 1, True, Returns(0.25), Index(3)])
    def test_float_accepts_real_numbers(self, value):
        assert isinstance(kivo.KivoFlow().tier_1("levenshtein", "gt", value, "lt", 0.1), kivo.KivoFlow)


class Registered:
    """Registered as a Sequence but without the sequence protocol."""

    def __len__(self):
        return 1

    def __iter__(self):
        return iter(["a"])


collections.abc.Sequence.register(Registered)


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


class TestStringListConversion:
    @pytest.mark.parametrize(
        "words",
        [["cat", "hat"], ("cat", "hat"), *(LyingLength(["cat", "hat"], n) for n in
                                           (0, 1, 2**62, 2**63 - 1, 10**12))],
    )
    def test_sequences_accepted_and_length_is_only_a_hint(self, words):
        assert removing(words).process("the cat hat") == "the"

    def test_failing_length(self):
        # The length only sizes the list; the words come from iteration.
        try:
            p = removing(FailingLength(["cat"]))
        except RuntimeError as error:
            assert error.__notes__ == ["while processing 'words'"]
        else:
            assert p.process("the cat") == "the"

    @pytest.mark.parametrize(
        "words, message",
        [
            ("cat", "Can't extract `str` to `Vec`"),
            (MyStr("cat"), "Can't extract `str` to `Vec`"),
            ({"cat"}, "'set' object is not an instance of 'Sequence'"),
            ({"cat": 1}, "'dict' object is not an instance of 'Sequence'"),
            ((w for w in ["cat"]), "'generator' object is not an instance of 'Sequence'"),
            (iter(["cat"]), "'list_iterator' object is not an instance of 'Sequence'"),
            (Registered(), "'Registered' object is not an instance of 'Sequence'"),
            (None, "'None' is not an instance of 'Sequence'"),
            (["a", 1], "'int' object is not an instance of 'str'"),
            (YieldsNonStr([]), "'int' object is not an instance of 'str'"),
        ],
    )
    def test_rejections(self, words, message):
        error = raised(lambda: kivo.Preprocessor().with_stopwords(words))
        assert type(error) is TypeError
        assert str(error) == message
        assert error.__notes__ == ["while processing 'words'"]

    @pytest.mark.parametrize(
        "words, expected_type",
        [
            (["ok", "\udc80"], UnicodeEncodeError),
            (FailingIteration(["x"]), KeyError),
            (NotAnIterator(["x"]), TypeError),
        ],
    )
    def test_python_errors_pass_through_and_leave_the_receiver(self, words, expected_type):
        p = kivo.Preprocessor()
        error = raised(lambda: p.with_stopwords(words))
        assert type(error) is expected_type
        assert error.__notes__ == ["while processing 'words'"]
        assert p.process("The Cat") == "the cat"

    def test_list_mutated_by_its_own_iterator(self):
        class Growing(list):
            def __iter__(self):
                for word in list.__iter__(self):
                    self.append(word + "!")
                    if len(self) > 50:
                        break
                    yield word

        assert removing(Growing(["cat"])).process("cat cat! hat") == "hat"


class TestPanicException:
    def test_derives_directly_from_base_exception(self):
        assert kivo.PanicException.__bases__ == (BaseException,)
        assert not issubclass(kivo.PanicException, Exception)

    def test_internal_fault_becomes_panic_exception(self):
        error = raised(lambda: kivo.jaccard_similarity("abc", "abd", 0))
        assert type(error) is kivo.PanicException
        assert str(error) == "window size must be non-zero"
        assert error.args == ("window size must be non-zero",)
