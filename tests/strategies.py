"""Hypothesis strategies: text that stresses UTF-8 handling, the fast paths
of the measures, the term tokenizer and the cleaning pipeline."""

from hypothesis import strategies as st

import models

# Every UTF-8 length, combining marks, whitespace of several kinds, astral characters.
ALPHABET = st.sampled_from(
    list("abcdeABC xyz")
    + ["é", "ß", "Σ", "σ", "ς", "Ж", "日", "本", "\u0301", "\u00a0", "\u3000", "\t", "😀", "𐐷", "\u200b"]
)
SURROGATES = st.sampled_from(["\ud800", "\udbff", "\udc00", "\udfff"])


def texts(max_size=40, min_size=0, surrogates=False):
    """Text from ALPHABET or anywhere; with `surrogates`, one in ten holds a
    lone surrogate (hypothesis leaves them out by default)."""
    base = st.text(ALPHABET, min_size=min_size, max_size=max_size) | st.text(
        min_size=min_size, max_size=max_size
    )
    if not surrogates:
        return base
    return st.tuples(base, st.integers(0, 9), SURROGATES, st.integers(0, max_size)).map(
        lambda t: t[0] if t[1] else t[0][: t[3]] + t[2] + t[0][t[3] :]
    )


# Characters whose Unicode data is the same in Python's database and in
# Unicode 16, so the plain-Python cleaning model is a fair reference.
SAFE_TEXT = st.text(
    st.one_of(
        st.characters(max_codepoint=0x17F),  # ASCII, Latin-1, Latin Extended-A
        st.characters(min_codepoint=0x300, max_codepoint=0x36F),  # combining marks
        st.characters(min_codepoint=0x370, max_codepoint=0x4FF),  # Greek, Cyrillic
        st.characters(min_codepoint=0x4E00, max_codepoint=0x4E3F),  # CJK ideographs
        st.sampled_from(sorted(models.WHITESPACE) + ["Σ", "İ", "\u212b", "\ufb01", "'", "."]),
    ),
    max_size=40,
)

# Case pairs whose lowercasing changes length or depends on context (final
# sigma), non-ASCII punctuation that stays inside a term, astral letters,
# combining and case-ignorable marks, characters that look like separators.
VOCABULARY = [
    "cat", "Cat", "CAT", "dog", "the", "ΟΔΟΣ", "οδος", "ΑΣ\u0301", "Σ", "σ", "ς",
    "naïve", "NAÏVE", "café", "cafe\u0301", "İstanbul", "straße", "STRASSE",
    "日本", "😀", "𐐏𐐷", "don’t", "«a»", "a\u00b7b", "x\u00adΣ", "\u200bz", "\x7f", "٣",
]  # fmt: skip
SEPARATOR_CHARS = sorted(models.SEPARATORS)
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
    parts = [draw(st.text(st.sampled_from(SEPARATOR_CHARS), max_size=2))]
    for _ in range(draw(st.integers(0, max_words))):
        parts.append(draw(st.sampled_from(VOCABULARY) | st.text(TERM_ALPHABET, max_size=4)))
        parts.append(draw(st.text(st.sampled_from(SEPARATOR_CHARS), min_size=1, max_size=3)))
    return "".join(parts)


@st.composite
def alike(draw, text, substitute_only=False):
    """text after a few insertions, deletions and substitutions (only
    substitutions, which keep its length, with `substitute_only`)."""
    chars = list(text)
    for _ in range(draw(st.integers(0, 30))):
        pos, op = draw(st.integers(0, len(chars))), draw(st.integers(0, 2))
        if op == 0 and not substitute_only:
            chars.insert(pos, draw(ALPHABET))
        elif op == 1 and pos < len(chars) and not substitute_only:
            del chars[pos]
        elif pos < len(chars):
            chars[pos] = draw(ALPHABET)
    return "".join(chars)
