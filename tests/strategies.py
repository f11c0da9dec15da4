"""Hypothesis strategies shared by the tests: text that stresses UTF-8 handling."""

from hypothesis import strategies as st

# Every UTF-8 length, combining marks, whitespace of several kinds, astral
# characters; no lone surrogates (those are rejected before any measure runs).
ALPHABET = st.sampled_from(
    list("abcdeABC xyz")
    + ["é", "ß", "Σ", "σ", "ς", "Ж", "日", "本", "\u0301", "\u00a0", "\u3000", "\t", "😀", "𐐷", "\u200b"]
)


def texts(max_size: int = 40):
    return st.text(alphabet=ALPHABET, max_size=max_size) | st.text(max_size=max_size)
