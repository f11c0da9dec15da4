"""kivo.phonetic's part of the fuzz harness: one input -> one checked call.

A key function on hostile text must return a key of its alphabet that equals
the key of the text's Latin letters (the plain model of their reading), agree
with the Soundex and match-rating models, or raise exactly the conversion
error; kivo.batch.encode must return the single calls' keys for every text,
or the error the first bad text calls for.
"""

from __future__ import annotations

import string

import models  # tests/, put on the path by kivo_harness

import kivo
import kivo.phonetic as ph

try:
    import kivo.batch as batch
except ImportError:
    batch = None

KEYS = [ph.soundex, ph.nysiis, ph.metaphone, ph.double_metaphone, ph.match_rating_codex]
ALPHABET = set(string.ascii_uppercase) | set("0123456789")
NOT_TEXTS = [None, 1, b"x", 1.5, ["a"]]


def reading_error(items):
    """The error reading these arguments raises first, or None."""
    for item in items:
        if not isinstance(item, str):
            return TypeError
        if any(0xD800 <= ord(c) < 0xE000 for c in item):
            return UnicodeEncodeError
    return None


def batch_reading_error(items):
    """reading_error for kivo.batch, which reads None as a null."""
    for k, item in enumerate(items):
        if item is None:
            return reading_error(items[:k]) or ValueError
    return reading_error(items)


def check_key(r, a, b):
    key = r.pick(KEYS + [ph.match_rating_comparison])
    args = [a, b] if key is ph.match_rating_comparison else [a]
    if r.chance(8):
        args[r.below(len(args))] = r.pick(NOT_TEXTS)
    error = reading_error(args)
    if error is not None:
        try:
            key(*args)
        except error:
            return
        raise AssertionError(f"{key.__name__}{tuple(args)!r} did not raise {error.__name__}")
    got = key(*args)
    if key is ph.match_rating_comparison:
        assert got == models.match_rating_comparison(a, b), (a, b, got)
        return
    assert got == key(models.latin_letters(a)), (key.__name__, a, got)
    for part in got if isinstance(got, tuple) else (got,):
        assert isinstance(part, str) and set(part) <= ALPHABET, (key.__name__, a, got)
    if key is ph.soundex:
        assert got == models.soundex(a)
    if key is ph.match_rating_codex:
        assert got == models.match_rating_codex(a)


def check_encode(r, a, b):
    if batch is None:
        return
    encoder = r.pick(KEYS + [kivo.levenshtein_distance, ph.match_rating_comparison])
    # Now and then past encode's first chunk of texts, with names repeated.
    size = 8100 + r.below(200) if r.chance(32) else r.below(8)
    texts = [r.pick([a, b, a[::-1], ""]) for _ in range(size)]
    if texts and r.chance(8):
        texts[r.below(len(texts))] = r.pick(NOT_TEXTS)
    call = lambda: batch.encode(texts, encoder=encoder, workers=r.pick([1, 2, -1]))  # noqa: E731
    expected = TypeError if encoder not in KEYS else batch_reading_error(texts)
    if expected is not None:
        try:
            call()
        except expected:
            return
        raise AssertionError(f"encode did not raise {expected.__name__}")
    assert call() == [encoder(t) for t in texts]


PHONETIC_CHECKS = [check_key, check_encode]
