"""Character-level measures read a str's own fixed-width storage (one, two or
four bytes per character). These tests pin that path at its boundaries: every
storage width and mix of widths, str subclasses, and lone surrogates, which
must still be rejected when the arguments are converted. MinHash's fast paths
over ASCII windows are pinned at theirs."""

import random

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kivo
import models

HAMMING = [kivo.hamming_distance, kivo.hamming_similarity]
CHARACTER_MEASURES = HAMMING + [kivo.levenshtein_distance, kivo.levenshtein_similarity]


def hamming_distance_model(a, b):
    return sum(x != y for x, y in zip(a, b, strict=True))


def hamming_similarity_model(a, b):
    return 1.0 if not a else 1.0 - hamming_distance_model(a, b) / len(a)


# Characters by the storage width of a str made only of them, with the values
# next to the surrogate range and at the ends of each width.
POOLS = {
    1: "ab\x00\x7f\x80é\xff",
    2: "ab\u0100日\ud7ff\ue000\uf800\uffff",
    4: "ab😀\U00010000\U0001d800\U0001dfff\U0010d800\U0010ffff",
}


class Sub(str):
    pass


def widths_of(pool):
    return st.text(alphabet=st.sampled_from(pool), min_size=0, max_size=150)


@pytest.mark.parametrize("wa", [1, 2, 4])
@pytest.mark.parametrize("wb", [1, 2, 4])
@settings(max_examples=40, deadline=None)
@given(data=st.data())
def test_hamming_matches_the_model_for_every_width_pair(wa, wb, data):
    a = data.draw(widths_of(POOLS[wa]))
    b = data.draw(st.text(alphabet=st.sampled_from(POOLS[wb]), min_size=len(a), max_size=len(a)))
    assert kivo.hamming_distance(a, b) == hamming_distance_model(a, b)
    assert kivo.hamming_similarity(a, b) == hamming_similarity_model(a, b)
    assert kivo.hamming_distance(b, a) == hamming_distance_model(b, a)


@pytest.mark.parametrize("n", [1, 15, 16, 63, 64, 65, 127, 128, 129, 1000])
@pytest.mark.parametrize("wa, wb", [(1, 1), (2, 2), (4, 4), (1, 2), (2, 4), (1, 4)])
def test_hamming_lengths_around_block_boundaries(n, wa, wb):
    # The last character of each text forces its width; the rest is shared or not.
    wide = {1: "ÿ", 2: "日", 4: "😀"}
    a = ("xy" * n)[: n - 1] + wide[wa]
    b = ("xz" * n)[: n - 1] + wide[wb]
    assert kivo.hamming_distance(a, b) == hamming_distance_model(a, b)
    assert kivo.hamming_similarity(a, b) == hamming_similarity_model(a, b)
    c = a[:-1] + wide[wb]
    assert kivo.hamming_distance(a[:-1] + wide[wa], c) == int(wa != wb)


@pytest.mark.parametrize("function", HAMMING)
@pytest.mark.parametrize("a, b", [("é", "日日"), ("", "😀"), ("日", "😀😀"), ("ab", "é")])
def test_hamming_different_character_counts_across_widths_raise(function, a, b):
    for x, y in ((a, b), (b, a)):
        with pytest.raises(ValueError, match=r"^Strings must have equal length$"):
            function(x, y)


@pytest.mark.parametrize("a, b", [("", ""), ("é", "é"), ("日本", "日本"), ("😀x", "😀y")])
def test_hamming_of_str_subclasses_reads_the_text(a, b):
    for x, y in ((Sub(a), b), (a, Sub(b)), (Sub(a), Sub(b))):
        assert kivo.hamming_distance(x, y) == hamming_distance_model(a, b)
        assert kivo.hamming_similarity(x, y) == hamming_similarity_model(a, b)


def test_hamming_of_empty_texts():
    assert kivo.hamming_distance("", "") == 0
    assert kivo.hamming_similarity("", "") == 1.0
    assert kivo.hamming_similarity(Sub(""), "") == 1.0


def with_surrogate(length, at, astral):
    """A text of `length` characters holding a lone surrogate at `at`; an
    astral character elsewhere makes its storage four bytes wide."""
    chars = ["日"] * length
    if astral:
        chars[0 if at != 0 else -1] = "😀"
    chars[at] = "\udc00" if at % 2 else "\ud800"
    return "".join(chars)


SURROGATE_PLACES = [(1, 0), (2, 1), (64, 0), (64, 63), (65, 64), (130, 127), (130, 129)]


@pytest.mark.parametrize("function", CHARACTER_MEASURES)
@pytest.mark.parametrize("length, at", SURROGATE_PLACES)
@pytest.mark.parametrize("astral", [False, True])
@pytest.mark.parametrize("subclass", [False, True])
def test_lone_surrogate_in_either_argument_raises_at_conversion(
    function, length, at, astral, subclass
):
    bad = with_surrogate(length, at, astral)
    good = "a" * length
    if subclass:
        bad = Sub(bad)
    for args, param in (((bad, good), "a"), ((good, bad), "b")):
        with pytest.raises(UnicodeEncodeError) as info:
            function(*args)
        assert info.value.__notes__ == [f"while processing '{param}'"]
        with pytest.raises(UnicodeEncodeError) as info:
            function(a=args[0], b=args[1])
        assert info.value.__notes__ == [f"while processing '{param}'"]


@pytest.mark.parametrize("function", CHARACTER_MEASURES)
def test_first_failing_argument_is_reported(function):
    with pytest.raises(UnicodeEncodeError) as info:
        function("\ud800", "\udfff")
    assert info.value.__notes__ == ["while processing 'a'"]
    # A surrogate in b still loses to a wrong type in a, and the reverse.
    with pytest.raises(TypeError) as info:
        function(1, "\ud800")
    assert info.value.__notes__ == ["while processing 'a'"]
    with pytest.raises(UnicodeEncodeError) as info:
        function("\ud800", 1)
    assert info.value.__notes__ == ["while processing 'a'"]
    with pytest.raises(TypeError) as info:
        function("日", None)
    assert info.value.__notes__ == ["while processing 'b'"]


@pytest.mark.parametrize("text", ["\ud7ff", "\ue000", "\U0001d800", "\U0001dfff", "\U0010d800"])
def test_neighbours_of_the_surrogate_range_are_characters(text):
    # Four-byte units whose low bits look like a surrogate are not one.
    long_text = text * 70
    assert kivo.hamming_distance(long_text, long_text) == 0
    assert kivo.hamming_distance(text, "a") == 1


def levenshtein_similarity_model(a, b):
    longest = max(len(a), len(b))
    return 1.0 if longest == 0 else 1.0 - models.levenshtein_distance(a, b) / longest


@pytest.mark.parametrize("wa", [1, 2, 4])
@pytest.mark.parametrize("wb", [1, 2, 4])
@settings(max_examples=25, deadline=None)
@given(data=st.data())
def test_levenshtein_matches_the_model_for_every_width_pair(wa, wb, data):
    a = data.draw(st.text(alphabet=st.sampled_from(POOLS[wa]), max_size=80))
    b = data.draw(st.text(alphabet=st.sampled_from(POOLS[wb]), max_size=80))
    assert kivo.levenshtein_distance(a, b) == models.levenshtein_distance(a, b)
    assert kivo.levenshtein_similarity(a, b) == levenshtein_similarity_model(a, b)
    assert kivo.levenshtein_distance(b, a) == models.levenshtein_distance(a, b)


@pytest.mark.parametrize("n", [63, 64, 65, 129, 200])
@pytest.mark.parametrize("wa, wb", [(1, 1), (2, 2), (4, 4), (1, 2), (2, 4), (1, 4)])
def test_levenshtein_long_texts_across_widths(n, wa, wb):
    rng = random.Random(n * 16 + wa * 4 + wb)
    a = "".join(rng.choice(POOLS[wa]) for _ in range(n))
    b = list(a)
    for _ in range(n // 8):
        b[rng.randrange(n)] = rng.choice(POOLS[wb])
    b = "".join(b) + POOLS[wb][-1]
    assert kivo.levenshtein_distance(a, b) == models.levenshtein_distance(a, b)
    assert kivo.levenshtein_similarity(Sub(a), b) == levenshtein_similarity_model(a, b)
    c = "".join(rng.choice(POOLS[wb]) for _ in range(n + 3))
    assert kivo.levenshtein_distance(a, c) == models.levenshtein_distance(a, c)


@pytest.mark.parametrize("a, b", [("", ""), ("", "é"), ("😀", ""), ("é", "é"), ("ab", "b")])
def test_levenshtein_of_short_and_empty_texts_across_widths(a, b):
    for x, y in ((a, b), (Sub(b), a)):
        assert kivo.levenshtein_distance(x, y) == models.levenshtein_distance(x, y)
        assert kivo.levenshtein_similarity(x, y) == levenshtein_similarity_model(x, y)


# MinHash hashes ASCII windows of up to eight bytes without decoding, and
# deduplicates long texts' windows of one to three bytes by their bytes.
def minhash_model(text, k, m):
    return models.minhash_signature(text, k, m)


def ascii_text(length, seed, alphabet="abcdefghij klmnop\x00\x7f"):
    rng = random.Random(seed)
    return "".join(rng.choice(alphabet) for _ in range(length))


@pytest.mark.parametrize("k", [1, 2, 3, 4, 8, 9])
@pytest.mark.parametrize("length", [0, 1, 2, 3, 8, 9, 100, 8194, 8195, 9000])
def test_minhash_of_ascii_windows_matches_the_model(k, length):
    text = ascii_text(length, seed=length * 10 + k)
    assert kivo.minhash_signature(text, k, 8) == minhash_model(text, k, 8)


@pytest.mark.parametrize("k", [1, 2, 3])
def test_minhash_long_text_with_every_window(k):
    # Every byte value below 0x80 in every position of a window.
    text = "".join(chr(c) for c in range(128)) * 70 + ascii_text(200, seed=k)
    assert kivo.minhash_signature(text, k, 16) == minhash_model(text, k, 16)
    assert kivo.minhash_signature(text + "é", k, 16) == minhash_model(text + "é", k, 16)


@pytest.mark.parametrize("k", [1, 2, 3, 4])
def test_minhash_similarity_of_long_ascii_texts(k):
    a = ascii_text(9000, seed=1)
    b = a[:4000] + ascii_text(5000, seed=2)
    assert kivo.minhash_similarity(a, b, k, 16) == models.minhash_similarity(a, b, k, 16)


# KivoFlow builds each result from a template per algorithm and tier; a
# result is the caller's own dict, and changing it changes no later result.
KEYS = ["score", "tier", "algorithm", "fallback_called", "fallback_data"]


@pytest.mark.parametrize(
    "make, tier, algorithm",
    [
        (lambda: kivo.KivoFlow().tier_1("levenshtein", "gt", -1.0, "lt", -1.0), 1, "levenshtein"),
        (lambda: kivo.KivoFlow().tier_1("hamming", "gt", 2.0, "lt", -1.0), 1, "hamming"),
        (
            lambda: kivo.KivoFlow()
            .tier_1("levenshtein", "gt", 2.0, "lt", -1.0)
            .tier_2("jaro_winkler", "gt", -1.0, 0.0),
            2,
            "jaro_winkler",
        ),
    ],
)
def test_compare_results_are_fresh_dicts(make, tier, algorithm):
    flow = make()
    first = flow.compare("kitten", "sittin")
    assert list(first) == KEYS
    expected = dict(first)
    assert (first["tier"], first["algorithm"]) == (tier, algorithm)
    assert first["fallback_called"] is False and first["fallback_data"] == ""
    first["score"] = None
    first["tier"] = 99
    first["algorithm"] = "changed"
    first["extra"] = 1
    del first["fallback_data"]
    again = flow.compare("kitten", "sittin")
    assert again == expected and list(again) == KEYS
    assert again is not first
    other = make().compare("日本語", "日本人")
    assert list(other) == KEYS and other["algorithm"] == algorithm and other["tier"] == tier


def test_compare_with_intent_results_are_fresh_dicts():
    flow = kivo.KivoFlow()
    first = flow.compare_with_intent("typos", "kitten", "sitting")
    expected = dict(first)
    assert list(first) == KEYS and first["tier"] == 0
    first.clear()
    assert flow.compare_with_intent("typos", "kitten", "sitting") == expected
