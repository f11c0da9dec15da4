"""Preprocessor: an immutable builder over the cleaning pipeline."""

import unicodedata

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kivo
from models import WHITESPACE, WS_CHARS
from models import clean_text as model
from strategies import SAFE_TEXT

ALL_OFF = (
    kivo.Preprocessor()
    .with_lowercase(False)
    .with_collapse_whitespace(False)
    .with_trim(False)
    .with_normalize_unicode(False)
)


class TestRepr:
    @pytest.mark.parametrize(
        "make, expected",
        [
            (lambda p: p, "Preprocessor(lowercase=true, stopwords=false)"),
            (
                lambda p: p.with_lowercase(False).with_remove_stopwords(True),
                "Preprocessor(lowercase=false, stopwords=true)",
            ),
            (
                lambda p: p.with_stopwords(["x"]).with_max_length(3).with_trim(False),
                "Preprocessor(lowercase=true, stopwords=false)",
            ),
        ],
    )
    def test_shows_lowercase_and_removal_switches_only(self, make, expected):
        p = make(kivo.Preprocessor())
        assert repr(p) == expected
        assert str(p) == expected


class TestImmutability:
    def test_builders_return_new_objects_and_leave_the_receiver(self):
        p = kivo.Preprocessor()
        q = p.with_trim(False)
        assert q is not p and isinstance(q, kivo.Preprocessor)
        assert p.process(" a ") == "a"
        assert q.process(" a ") == " a "
        assert p.with_trim(True) is not p

    def test_stopwords_are_copied_when_set(self):
        words = ["cat"]
        p = kivo.Preprocessor().with_remove_stopwords(True).with_stopwords(words)
        words.append("sat")
        words[0] = "dog"
        assert p.process("the cat sat") == "the sat"

    @pytest.mark.parametrize(
        "bad_call, error",
        [
            (lambda p: p.with_stopwords(["ok", 1]), TypeError),
            (lambda p: p.with_stopwords("cat"), TypeError),
            (lambda p: p.with_max_length(-1), OverflowError),
            (lambda p: p.with_trim(1), TypeError),
            (lambda p: p.process(b"x"), TypeError),
        ],
    )
    def test_a_failed_call_leaves_the_receiver_unchanged(self, bad_call, error):
        p = kivo.Preprocessor().with_remove_stopwords(True).with_stopwords(["cat"])
        with pytest.raises(error):
            bad_call(p)
        assert p.process("The  cat SAT") == "the sat"

    def test_builder_order_does_not_matter_and_later_calls_win(self):
        a = kivo.Preprocessor().with_trim(False).with_lowercase(False)
        b = kivo.Preprocessor().with_lowercase(False).with_trim(False)
        c = kivo.Preprocessor().with_trim(True).with_lowercase(True).with_trim(False)
        c = c.with_lowercase(False)
        text = " A\tB "
        assert a.process(text) == b.process(text) == c.process(text) == " A B "


def removing():
    return kivo.Preprocessor().with_remove_stopwords(True)


class TestSettings:
    @pytest.mark.parametrize(
        "make, text, expected",
        [
            (lambda p: p.with_stopwords(["cat"]), "the cat", "the cat"),
            (lambda p: removing().with_stopwords(["cat"]), "the cat", "the"),
            (lambda p: p.with_stopwords(["cat"]).with_remove_stopwords(True), "the cat", "the"),
            (lambda p: removing().with_stopwords([]), "the cat", "cat"),
            (lambda p: removing().with_stopwords(["The"]), "The cat", "the cat"),
            (lambda p: removing().with_stopwords(("a", "b")), "a b c", "c"),
            (lambda p: removing().with_stopwords(["", "x", "x"]), "x  y", "y"),
            (lambda p: removing().with_stopwords(["caf\u00e9"]), "CAFE\u0301 bar", "bar"),
            (lambda p: removing().with_normalize_unicode(False).with_stopwords(["caf\u00e9"]),
             "cafe\u0301 bar", "cafe\u0301 bar"),
            # Removal joins with single spaces whatever collapse and trim say.
            (lambda p: removing().with_collapse_whitespace(False).with_trim(False),
             "  the\tcat\n\nsat\u00a0 ", "cat sat"),
            (lambda p: p.with_lowercase(False), "  ÀB\tC ", "ÀB C"),
            (lambda p: p.with_normalize_unicode(False), "E\u0301", "e\u0301"),
            (lambda p: p.with_collapse_whitespace(False), " a \t b ", "a \t b"),
            (lambda p: p.with_trim(False), " a \t b ", " a b "),
            (lambda p: p.with_trim(False).with_collapse_whitespace(False), " a\t", " a\t"),
            # The lowercase result is not normalised again.
            (lambda p: p.with_normalize_unicode(False), "\u0130\u0323", "i\u0307\u0323"),
            # Zero removes an earlier bound; the bound applies after stopword removal.
            (lambda p: p.with_max_length(5).with_max_length(0), "Hello World", "hello world"),
            (lambda p: removing().with_max_length(7), "the cat and the hat", "cat hat"),
        ],
    )
    def test_settings(self, make, text, expected):
        assert make(kivo.Preprocessor()).process(text) == expected


class TestMaxLength:
    @pytest.mark.parametrize(
        "bound, text, expected",
        [
            (5, "Hello World", "hello"),
            (6, "hello world", "hello "),  # the cut is not trimmed again
            (0, "hello world", "hello world"),
            (11, "hello world", "hello world"),
            (2, "h\u00e9llo", "h"),  # inside a character: back to its start
            (3, "h\u00e9llo", "h\u00e9"),
            (3, "\U0001f600x", ""),
            (2**64 - 1, "abc", "abc"),
            (2**63, "  Hello \t World ", "hello world"),
        ],
    )
    def test_byte_bound(self, bound, text, expected):
        assert kivo.Preprocessor().with_max_length(bound).process(text) == expected

    @settings(max_examples=200)
    @given(st.text(max_size=30), st.integers(min_value=1, max_value=40))
    def test_result_is_the_longest_fitting_prefix(self, text, bound):
        full = kivo.clean_text(text)
        cut = kivo.Preprocessor().with_max_length(bound).process(text)
        assert full.startswith(cut)
        assert len(cut.encode()) <= bound
        rest = full[len(cut) :]
        assert not rest or len(cut.encode()) + len(rest[0].encode()) > bound


@settings(max_examples=300)
@given(st.text(max_size=40))
def test_default_preprocessor_matches_the_fixed_cleaners(text):
    assert kivo.Preprocessor().process(text) == kivo.clean_text(text)
    stop = kivo.Preprocessor().with_remove_stopwords(True)
    assert stop.process(text) == kivo.clean_text_stopwords(text)


@settings(max_examples=200)
@given(st.text(max_size=40))
def test_everything_off_returns_the_input(text):
    assert ALL_OFF.process(text) == text


@settings(max_examples=200)
@given(SAFE_TEXT, st.booleans(), st.booleans(), st.booleans(), st.booleans())
def test_switch_combinations_agree_with_plain_python(text, nfc, lower, collapse, trim):
    p = (
        kivo.Preprocessor()
        .with_normalize_unicode(nfc)
        .with_lowercase(lower)
        .with_collapse_whitespace(collapse)
        .with_trim(trim)
    )
    expected = unicodedata.normalize("NFC", text) if nfc else text
    expected = expected.lower() if lower else expected
    if collapse:
        expected = "".join(" " if c in WHITESPACE else c for c in expected)
        while "  " in expected:
            expected = expected.replace("  ", " ")
    if trim:
        expected = expected.strip(WS_CHARS)
    assert p.process(text) == expected
    if nfc and lower and collapse and trim:
        assert expected == model(text)
