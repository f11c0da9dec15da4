"""Hypothesis strategies for the term measures: texts whose terms repeat within
and across texts and that stress the term tokenizer."""

from hypothesis import strategies as st

import term_models as model

# Case pairs whose lowercasing changes length or depends on context (final
# sigma), non-ASCII punctuation that stays inside a term, astral letters,
# combining and case-ignorable marks, characters that look like separators
# but are not.
VOCABULARY = [
    "cat", "Cat", "CAT", "dog", "the", "ΟΔΟΣ", "οδος", "ΑΣ\u0301", "Σ", "σ", "ς",
    "naïve", "NAÏVE", "café", "cafe\u0301", "İstanbul", "straße", "STRASSE",
    "日本", "😀", "𐐏𐐷", "don’t", "«a»", "a\u00b7b", "x\u00adΣ", "\u200bz", "\x7f", "٣",
]  # fmt: skip
SEPARATOR_CHARS = sorted(model.SEPARATORS)
SEPARATOR_RUNS = st.text(alphabet=st.sampled_from(SEPARATOR_CHARS), min_size=1, max_size=3)
ALPHABET = st.sampled_from(
    SEPARATOR_CHARS
    + list("abcABC019")
    + ["é", "É", "ß", "İ", "Σ", "σ", "ς", "Ж", "ж", "日", "😀", "𐐷", "𐐏", "\u0301", "\u00ad"]
    + ["\u2019", "\u00ab", "\u2026", "\u200b", "\u180e", "\x80", "\x7f", "\u00b7"]
)


@st.composite
def term_texts(draw, max_words=12):
    """Vocabulary words joined by separator runs, or character soup."""
    if draw(st.booleans()):
        return draw(st.text(alphabet=ALPHABET, max_size=30))
    parts = [draw(st.text(alphabet=st.sampled_from(SEPARATOR_CHARS), max_size=2))]
    for _ in range(draw(st.integers(0, max_words))):
        parts.append(draw(st.sampled_from(VOCABULARY) | st.text(alphabet=ALPHABET, max_size=4)))
        parts.append(draw(SEPARATOR_RUNS))
    return "".join(parts)


@st.composite
def disguised(draw, text):
    """text with each separator swapped for another separator run and ASCII
    letters in random case: the same terms in another form."""
    out = []
    for ch in text:
        if ch in model.SEPARATORS:
            out.append(draw(SEPARATOR_RUNS))
        elif ch.isascii() and ch.isalpha():
            out.append(draw(st.sampled_from([ch.lower(), ch.upper()])))
        else:
            out.append(ch)
    return "".join(out)
