"""kivo.tokens against plain models of each ratio and against RapidFuzz's
fuzz functions, and where the two split tokens differently."""

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import models
import strategies
from measures import Measure, check

tokens = pytest.importorskip("kivo.tokens")

NAMES = ["ratio", "partial_ratio", "token_sort_ratio", "token_set_ratio",
         "partial_token_sort_ratio", "partial_token_set_ratio", "weighted_ratio"]  # fmt: skip
MEASURES = [Measure(name, ((getattr(tokens, name), getattr(models, name)),)) for name in NAMES]
WORDS = ["john", "smith", "jon", "smyth", "a", "ab", "ba", "mary-jane", "o'neil", "日本", "😀x", "é"]


@st.composite
def phrases(draw, max_words=7):
    """Words from a small vocabulary (so that tokens repeat and overlap), or
    character soup, joined by single spaces."""
    word = st.sampled_from(WORDS) | st.text(st.sampled_from("abjé日"), min_size=1, max_size=5)
    return " ".join(draw(st.lists(word, max_size=max_words)))


TEXTS = phrases() | strategies.texts(max_size=25, surrogates=True)


@pytest.mark.parametrize("measure", MEASURES, ids=repr)
@settings(deadline=None)
@given(a=TEXTS, b=TEXTS)
def test_ratios_agree_with_their_models(measure, a, b):
    check(measure, a, b)


# Past one 64-bit word; the partial ratios' models are slow, so few examples.
@pytest.mark.parametrize("name", ["ratio", "partial_ratio", "token_sort_ratio", "token_set_ratio"])
@settings(deadline=None, max_examples=10)
@given(a=st.text(st.sampled_from("ab cé"), min_size=65, max_size=90), data=st.data())
def test_long_texts_agree_with_the_models(name, a, data):
    b = data.draw(strategies.alike(a) | st.text(st.sampled_from("ab cé"), max_size=150))
    assert getattr(tokens, name)(a, b) == getattr(models, name)(a, b)


@pytest.mark.parametrize(("name", "a", "b", "want"), [
    ("ratio", "", "", 1.0),
    ("partial_ratio", "", "", 1.0),
    ("partial_ratio", "", "a", 0.0),
    ("partial_ratio", "abc", "xxabcxx", 1.0),
    ("partial_ratio", "ab", "bc", 2 / 3),  # a window cut short at the start
    ("token_sort_ratio", "Smith John", "John Smith", 1.0),
    ("token_sort_ratio", " ", " ", 1.0),  # no tokens either side: two empty texts
    ("token_set_ratio", " ", " ", 0.0),
    ("token_set_ratio", "fuzzy was a bear", "fuzzy fuzzy was a bear", 1.0),
    ("partial_token_set_ratio", "a b", "b c", 1.0),
    ("weighted_ratio", "", "", 0.0),
    ("weighted_ratio", " ", " ", 1.0),
    ("weighted_ratio", "d", "dab daca", 0.9),  # eight times as long still scales by 0.9
    ("weighted_ratio", "d", "dab dacax", 0.6),
])  # fmt: skip
def test_edge_values(name, a, b, want):
    assert getattr(tokens, name)(a, b) == pytest.approx(want, abs=1e-15)


@pytest.mark.parametrize("name", NAMES)
@settings(deadline=None)
@given(a=phrases(), b=phrases())
def test_values_agree_with_rapidfuzz(name, a, b):
    fuzz = pytest.importorskip("rapidfuzz.fuzz")
    theirs = getattr(fuzz, "WRatio" if name == "weighted_ratio" else name)
    assert getattr(tokens, name)(a, b) == pytest.approx(theirs(a, b, processor=None) / 100, abs=1e-12)


@pytest.mark.parametrize("name", NAMES)
@settings(deadline=None, max_examples=25)
@given(a=st.text(st.sampled_from("ab cdé"), max_size=200), b=st.text(st.sampled_from("ab cdé"), max_size=400))
def test_long_values_agree_with_rapidfuzz(name, a, b):
    fuzz = pytest.importorskip("rapidfuzz.fuzz")
    a, b = " ".join(a.split()), " ".join(b.split())
    theirs = getattr(fuzz, "WRatio" if name == "weighted_ratio" else name)
    assert getattr(tokens, name)(a, b) == pytest.approx(theirs(a, b, processor=None) / 100, abs=1e-12)


@pytest.mark.parametrize(("separator", "splits"), [
    ("\xa0", True), ("\x85", True), ("\u3000", True), ("\t", True),
    ("\x1f", False), ("\x1c", False), ("\u200b", False),
])  # fmt: skip
def test_tokens_split_at_white_space_only(separator, splits):
    # RapidFuzz splits at U+001C to U+001F and not at U+0085 or U+00A0.
    got = tokens.token_sort_ratio(f"b{separator}a", "a b")
    assert got == pytest.approx(1.0 if splits else 1 / 3)


@pytest.mark.parametrize("name", NAMES)
def test_arguments_fail_like_kivo(name):
    f = getattr(tokens, name)
    with pytest.raises(TypeError, match="'NoneType'|'None'") as info:
        f(None, "a")
    assert info.value.__notes__ == ["while processing 'a'"]
    with pytest.raises(UnicodeEncodeError) as info:
        f("a", "x\udfff")
    assert info.value.__notes__ == ["while processing 'b'"]
    assert f(b="ab", a="ab") == 1.0


# Pairs that share tokens or not, repeat them or not, stand sorted or not, and
# needles past one 64-bit word: each way the token sets and the blend take.
SHAPES = [
    ("john smith", "smith john"), ("adams john", "adams john"), ("john john smith", "smith jon"),
    ("a b c", "a b"), ("a b b", "b a"), ("a b x", "a b y"), ("x a b", "y b a"),
    ("john smith", "jonathan smithers of london"), ("smith smith", "smith smithers smith"),
    (" lead  and trail ", "trail lead"), ("ab " * 30, "ba " * 40), ("abc" * 30, "xx " + "abc" * 50),
    ("日本 x", "x 日本 日本 y"), ("é a", "a é"),
]  # fmt: skip


@pytest.mark.parametrize("name", NAMES)
@pytest.mark.parametrize(("a", "b"), SHAPES)
def test_shapes_agree_with_the_models_and_batch(name, a, b):
    f = getattr(tokens, name)
    want = getattr(models, name)(a, b)
    assert f(a, b) == pytest.approx(want, abs=1e-12)
    assert f(b, a) == f(a, b)
    batch = pytest.importorskip("kivo.batch")
    # One query reads each choice as it meets it; three read them ahead.
    for queries in ([a], [a, b, a]):
        got = batch.cdist(queries, [b, a], scorer=f, workers=1)
        assert [list(row) for row in got] == [[f(q, b), f(q, a)] for q in queries]


@pytest.mark.parametrize("name", ["token_set_ratio", "weighted_ratio", "partial_ratio"])
def test_threads_calling_at_once_agree(name):
    # Each thread keeps its own scratch between calls; a long text grows it
    # and later short ones must not read what it left.
    from concurrent.futures import ThreadPoolExecutor

    f = getattr(tokens, name)
    pairs = [(a * k, b) for a, b in SHAPES for k in (1, 300)] * 4
    want = [f(a, b) for a, b in pairs]
    with ThreadPoolExecutor(4) as pool:
        assert list(pool.map(lambda p: f(*p), pairs)) == want
