"""How every callable is registered, binds and converts its arguments, and how
failures surface."""

import collections.abc
import importlib.util
import inspect

import pytest

import kivo

SIGNATURES = """\
levenshtein_distance(a, b)
levenshtein_similarity(a, b)
jaro_winkler_similarity(a, b)
hamming_similarity(a, b)
hamming_distance(a, b)
jaccard_similarity(a, b, n)
jaccard_bigram_similarity(a, b)
jaccard_trigram_similarity(a, b)
jaccard_word_similarity(a, b)
minhash_signature(text, shingle_size, num_hashes)
minhash_similarity(a, b, shingle_size, num_hashes)
minhash_similarity_default(a, b)
simhash_fingerprint(text, shingle_size)
simhash_fingerprint_default(text)
simhash_similarity(a, b, shingle_size)
simhash_similarity_default(a, b)
bm25_similarity(a, b)
tfidf_similarity(a, b)
Preprocessor()
Preprocessor.with_lowercase($self, v)
Preprocessor.with_collapse_whitespace($self, v)
Preprocessor.with_trim($self, v)
Preprocessor.with_normalize_unicode($self, v)
Preprocessor.with_remove_stopwords($self, v)
Preprocessor.with_stopwords($self, words)
Preprocessor.with_max_length($self, max)
Preprocessor.process($self, text)
clean_text(text)
clean_text_stopwords(text)
KivoFlow()
KivoFlow.preprocess($self, enable)
KivoFlow.tier_1($self, algo, match_op, match_val, mismatch_op, mismatch_val)
KivoFlow.tier_2($self, algo, op, val1, val2)
KivoFlow.compare_with_intent($self, intent, a, b)
KivoFlow.compare($self, a, b)
""".splitlines()


def members():
    """(qualified name, callable) of every function, class and method, in order."""
    for name in kivo.__all__:
        obj = getattr(kivo, name)
        yield name, obj
        if isinstance(obj, type):
            own = [m for m in vars(obj) if not m.startswith("_")]
            yield from ((f"{name}.{m}", getattr(obj, m)) for m in own)


def test_registration_order_and_text_signatures():
    assert [f"{name}{obj.__text_signature__}" for name, obj in members()] == SIGNATURES
    assert all(obj.__doc__ is None for _, obj in members() if not isinstance(obj, type))
    assert kivo.__doc__ == "" and "PanicException" not in kivo.__all__
    functions = [obj for _, obj in members() if inspect.isbuiltin(obj)]
    assert all(f.__module__ == "kivo" and f.__self__ is kivo for f in functions)


def test_execution_extends_an_existing_all_and_refuses_any_other():
    spec = importlib.util.find_spec("kivo")
    module, other = importlib.util.module_from_spec(spec), importlib.util.module_from_spec(spec)
    module.__all__, other.__all__ = ["x"], ("x",)
    spec.loader.exec_module(module)
    assert module.__all__ == ["x"] + kivo.__all__
    assert module.KivoFlow is kivo.KivoFlow and module.Preprocessor is kivo.Preprocessor
    with pytest.raises(TypeError, match=r"^'tuple' object is not an instance of 'list'$"):
        spec.loader.exec_module(other)


def raises(error):
    """An object whose integer and float conversions raise `error`."""
    def fail(self):
        raise error("conversion")
    return type("Raises", (), {"__index__": fail, "__float__": fail})()


def returns(value):
    """An object whose integer and float conversions return `value`."""
    return type("Returns", (), {"__index__": lambda s: value, "__float__": lambda s: value})()


# Registered as a Sequence, but without the sequence protocol.
Registered = type("Registered", (), {"__len__": lambda s: 1, "__iter__": lambda s: iter("a")})
collections.abc.Sequence.register(Registered)


def numpy_like_bool(truth=None):
    namespace = {"__module__": "numpy"} | ({"__bool__": truth} if truth else {})
    return type("bool_", (), namespace)()


def listing(words, **methods):
    """A list with other methods, such as a lying __len__."""
    return type("Listing", (list,), methods)(words)


def failing_midway(self):
    yield "cat"
    raise KeyError("midway")


KINDS = {"n": "uint", "shingle_size": "uint", "num_hashes": "uint", "max": "uint", "v": "bool",
         "enable": "bool", "words": "words", "match_val": "float", "mismatch_val": "float",
         "val1": "float", "val2": "float"}
GOOD = {"uint": 3, "float": 0.5, "bool": True, "words": ["x"], "text": "gt"}
REJECTED = {
    "text": [("ok\udfff", UnicodeEncodeError), ("\udbff\udc00", UnicodeEncodeError),
             (b"abc", TypeError), (None, TypeError), (["a"], TypeError)],
    "uint": [(-1, OverflowError), (2**64, OverflowError), (returns(-1), OverflowError),
             (returns(2**64), OverflowError), (returns("7"), TypeError), (returns(7.0), TypeError),
             (raises(KeyError), KeyError), (1.0, TypeError), ("3", TypeError)],
    "float": [(2**1024, OverflowError), (returns("0.5"), TypeError), (raises(KeyError), KeyError),
              ("0.5", TypeError), (None, TypeError)],
    "bool": [(1, TypeError), (None, TypeError), (1.0, TypeError), (numpy_like_bool(), TypeError),
             (numpy_like_bool(lambda s: 1), TypeError),
             (numpy_like_bool(lambda s: {}[0]), KeyError)],
    "words": [("cat", TypeError), ({"cat"}, TypeError), (iter(["cat"]), TypeError),
              (["ok", "\udc80"], UnicodeEncodeError), (listing([], __iter__=failing_midway), KeyError),
              (listing(["x"], __iter__=lambda s: 5), TypeError)],
}


def each_parameter():
    """(bound callable, its parameter names, the index of one parameter)."""
    for name, obj in members():
        if "." in name:
            obj = getattr(getattr(kivo, name.split(".")[0])(), obj.__name__)
        if not isinstance(obj, type):
            params = list(inspect.signature(obj).parameters)
            yield from ((f"{name}-{p}", obj, params, i) for i, p in enumerate(params))


@pytest.mark.parametrize(
    "fn, params, i, bad, error",
    [pytest.param(fn, params, i, bad, error, id=f"{name}-{bad!r:.20}")
     for name, fn, params, i in each_parameter()
     for bad, error in REJECTED[KINDS.get(params[i], "text")]],
)
def test_every_parameter_rejects_what_it_cannot_convert(fn, params, i, bad, error):
    args = [GOOD[KINDS.get(p, "text")] for p in params]
    args[i] = bad
    with pytest.raises(BaseException) as info:
        fn(*args)
    assert type(info.value) is error
    assert info.value.__notes__ == [f"while processing '{params[i]}'"]


class MyStr(str):
    pass


class Outer:
    class Inner:
        pass


LEV, LEV_ = kivo.levenshtein_distance, "levenshtein_distance()"
PRE, FLOW = kivo.Preprocessor(), kivo.KivoFlow()
WORDS = PRE.with_stopwords
NOT_AN_INSTANCE = "object is not an instance of"


@pytest.mark.parametrize(
    "call, message, note",
    [
        (lambda: LEV("a"), f"{LEV_} missing 1 required positional argument: 'b'", None),
        (lambda: LEV(b="a"), f"{LEV_} missing 1 required positional argument: 'a'", None),
        (lambda: LEV(), f"{LEV_} missing 2 required positional arguments: 'a' and 'b'", None),
        (lambda: kivo.minhash_similarity(), "minhash_similarity() missing 4 required positional "
         "arguments: 'a', 'b', 'shingle_size', and 'num_hashes'", None),
        (lambda: LEV(*"abc"), f"{LEV_} takes 2 positional arguments but 3 were given", None),
        (lambda: LEV(*"abc", z=1), f"{LEV_} takes 2 positional arguments but 3 were given", None),
        (lambda: kivo.clean_text(text="a", txt="b"), "clean_text() got an unexpected keyword "
         "argument 'txt'", None),
        (lambda: LEV("a", "b", a="c"), f"{LEV_} got multiple values for argument 'a'", None),
        (lambda: kivo.KivoFlow(1), "KivoFlow.__new__() takes 0 positional arguments but 1 was "
         "given", None),
        (lambda: kivo.Preprocessor(x=1), "Preprocessor.__new__() got an unexpected keyword "
         "argument 'x'", None),
        (lambda: kivo.KivoFlow(**{"\ud800": 1}), "KivoFlow.__new__() got an unexpected keyword "
         "argument '\ud800'", None),
        (lambda: PRE.with_trim(), "Preprocessor.with_trim() missing 1 required positional "
         "argument: 'v'", None),
        (lambda: FLOW.tier_2("bm25", val2=0.5), "KivoFlow.tier_2() missing 2 required positional "
         "arguments: 'op' and 'val1'", None),
        (lambda: FLOW.preprocess(True, enable=0), "KivoFlow.preprocess() got multiple values for "
         "argument 'enable'", None),
        (lambda: LEV("x", 1), f"'int' {NOT_AN_INSTANCE} 'str'", "b"),
        (lambda: LEV(b"x", 2), f"'bytes' {NOT_AN_INSTANCE} 'str'", "a"),
        (lambda: kivo.clean_text(None), "'None' is not an instance of 'str'", "text"),
        (lambda: kivo.clean_text(Outer.Inner()), f"'Outer.Inner' {NOT_AN_INSTANCE} 'str'", "text"),
        (lambda: PRE.with_lowercase(1), f"'int' {NOT_AN_INSTANCE} 'bool'", "v"),
        (lambda: PRE.with_trim(numpy_like_bool()),
         "object of type 'bool_' does not define a '__bool__' conversion", "v"),
        (lambda: PRE.with_trim(type("bool_", (), {"__bool__": lambda s: True})()),  # not numpy's
         f"'bool_' {NOT_AN_INSTANCE} 'bool'", "v"),
        (lambda: WORDS("cat"), "Can't extract `str` to `Vec`", "words"),
        (lambda: WORDS(MyStr("cat")), "Can't extract `str` to `Vec`", "words"),
        (lambda: WORDS({"cat"}), f"'set' {NOT_AN_INSTANCE} 'Sequence'", "words"),
        (lambda: WORDS({"cat": 1}), f"'dict' {NOT_AN_INSTANCE} 'Sequence'", "words"),
        (lambda: WORDS(w for w in "a"), f"'generator' {NOT_AN_INSTANCE} 'Sequence'", "words"),
        (lambda: WORDS(Registered()), f"'Registered' {NOT_AN_INSTANCE} 'Sequence'", "words"),
        (lambda: WORDS(None), "'None' is not an instance of 'Sequence'", "words"),
        (lambda: WORDS(["a", 1]), f"'int' {NOT_AN_INSTANCE} 'str'", "words"),
        (lambda: WORDS(listing([], __iter__=lambda s: iter(["a", 7]))),
         f"'int' {NOT_AN_INSTANCE} 'str'", "words"),
    ],
)
def test_type_errors(call, message, note):
    with pytest.raises(TypeError) as info:
        call()
    assert info.value.args == (message,)
    assert getattr(info.value, "__notes__", None) == (note and [f"while processing '{note}'"])


def test_accepted_conversions():
    numpy = pytest.importorskip("numpy")
    assert kivo.levenshtein_distance(MyStr("abc"), "abd") == 1
    for value in [0, 1, 2**64 - 1, True, returns(7), returns(2**64 - 1)]:
        assert type(PRE.with_max_length(value)) is kivo.Preprocessor
    assert kivo.jaccard_similarity("night", "nacht", True) == 3 / 7
    for value in [0.5, 1, True, returns(0.25)]:
        assert type(FLOW.tier_1("levenshtein", "gt", value, "lt", 0.1)) is kivo.KivoFlow
    for false in [numpy.bool_(False), numpy_like_bool(lambda s: False)]:
        assert repr(PRE.with_lowercase(false)) == "Preprocessor(lowercase=false, stopwords=false)"
    assert repr(PRE.with_remove_stopwords(numpy.bool_(True))).endswith("stopwords=true)")


def growing(self):
    for word in list.__iter__(self):
        self.append(word + "!")
        if len(self) > 50:
            return
        yield word


@pytest.mark.parametrize(
    "words, text",
    # The length, even a failing one, only sizes the list; the words come from iteration.
    [(["cat", "hat"], "the cat hat"), (("cat", "hat"), "the cat hat"),
     *[(listing(["cat", "hat"], __len__=n), "the cat hat") for n in (
         lambda s: 0, lambda s: 1, lambda s: 2**63 - 1, lambda s: 10**12, lambda s: {}[0])],
     (listing(["cat"], __iter__=growing), "the cat! cat")],  # growing while it is read
)
def test_word_lists_are_read_by_iteration(words, text):
    assert PRE.with_remove_stopwords(True).with_stopwords(words).process(text) == "the"


def test_internal_faults_raise_panic_exception():
    assert kivo.PanicException.__bases__ == (BaseException,)
    with pytest.raises(kivo.PanicException) as info:
        kivo.jaccard_similarity("abc", "abd", 0)
    assert info.value.args == ("window size must be non-zero",)
