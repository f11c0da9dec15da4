"""Hypothesis strategies shared by the tests: text that stresses UTF-8 handling,
the term tokenizer and the cleaning pipeline."""

from hypothesis import strategies as st

import models

# Every UTF-8 length, combining marks, whitespace of several kinds, astral
# characters; no lone surrogates (those are rejected before any measure runs).
ALPHABET = st.sampled_from(
    list("abcdeABC xyz")
    + ["é", "ß", "Σ", "σ", "ς", "Ж", "日", "本", "\u0301", "\u00a0", "\u3000", "\t", "😀", "𐐷", "\u200b"]
)


def texts(max_size: int = 40):
    return st.text(alphabet=ALPHABET, max_size=max_size) | st.text(max_size=max_size)


# Characters whose Unicode data is the same in Python's database and in
# Unicode 16, so the plain-Python cleaning model is a fair reference.
SAFE_CHARS = st.one_of(
    st.characters(max_codepoint=0x17F),  # ASCII, Latin-1, Latin Extended-A
    st.characters(min_codepoint=0x300, max_codepoint=0x36F),  # combining marks
    st.characters(min_codepoint=0x370, max_codepoint=0x4FF),  # Greek, Cyrillic
    st.characters(min_codepoint=0x4E00, max_codepoint=0x4E3F),  # CJK ideographs
    st.sampled_from(sorted(models.WHITESPACE) + ["Σ", "İ", "\u212b", "\ufb01", "'", "."]),
)
SAFE_TEXT = st.text(SAFE_CHARS, max_size=40)

# Case pairs whose lowercasing changes length or depends on context (final
# sigma), non-ASCII punctuation that stays inside a term, astral letters,
# combining and case-ignorable marks, characters that look like separators
# but are not.
VOCABULARY = [
    "cat", "Cat", "CAT", "dog", "the", "ΟΔΟΣ", "οδος", "ΑΣ\u0301", "Σ", "σ", "ς",
    "naïve", "NAÏVE", "café", "cafe\u0301", "İstanbul", "straße", "STRASSE",
    "日本", "😀", "𐐏𐐷", "don’t", "«a»", "a\u00b7b", "x\u00adΣ", "\u200bz", "\x7f", "٣",
]  # fmt: skip
SEPARATOR_CHARS = sorted(models.SEPARATORS)
SEPARATOR_RUNS = st.text(alphabet=st.sampled_from(SEPARATOR_CHARS), min_size=1, max_size=3)
TERM_ALPHABET = st.sampled_from(
    SEPARATOR_CHARS
    + list("abcABC019")
    + ["é", "É", "ß", "İ", "Σ", "σ", "ς", "Ж", "ж", "日", "😀", "𐐷", "𐐏", "\u0301", "\u00ad"]
    + ["\u2019", "\u00ab", "\u2026", "\u200b", "\u180e", "\x80", "\x7f", "\u00b7"]
)


@st.composite
def term_texts(draw, max_words=12):
    """Vocabulary words joined by separator runs, or character soup."""
    if draw(st.booleans()):
        return draw(st.text(alphabet=TERM_ALPHABET, max_size=30))
    parts = [draw(st.text(alphabet=st.sampled_from(SEPARATOR_CHARS), max_size=2))]
    for _ in range(draw(st.integers(0, max_words))):
        word = st.sampled_from(VOCABULARY) | st.text(alphabet=TERM_ALPHABET, max_size=4)
        parts.append(draw(word))
        parts.append(draw(SEPARATOR_RUNS))
    return "".join(parts)


@st.composite
def disguised(draw, text):
    """text with each separator swapped for another separator run and ASCII
    letters in random case: the same terms in another form."""
    out = []
    for ch in text:
        if ch in models.SEPARATORS:
            out.append(draw(SEPARATOR_RUNS))
        elif ch.isascii() and ch.isalpha():
            out.append(draw(st.sampled_from([ch.lower(), ch.upper()])))
        else:
            out.append(ch)
    return "".join(out)
