"""Every measure against its model on the edge cases of its definition and at
the boundaries its fast paths introduce: 64-bit words, bands of alike texts,
byte lanes, str storage widths, ASCII shortcuts, large shingle windows."""

import random

import pytest

import kivo
import models
from measures import (BM25, HAMMING, JACCARD_WORD, JARO_WINKLER, LEVENSHTEIN, TFIDF, check,
                      jaccard, minhash, simhash)


def rand(n, alphabet, seed):
    rng = random.Random(f"{n}{alphabet}{seed}")
    return "".join(rng.choice(alphabet) for _ in range(n))


def mutate(text, alphabet, edits, seed, ops="insert delete substitute"):
    rng, chars = random.Random(seed), list(text)
    for _ in range(edits):
        pos, op = rng.randrange(len(chars) or 1), rng.choice(ops.split())
        if op == "insert" or not chars:
            chars.insert(pos, rng.choice(alphabet))
        elif op == "delete":
            del chars[pos]
        else:
            chars[pos] = rng.choice(alphabet)
    return "".join(chars)


class Sub(str):
    pass


def short(value):
    text = repr(value)
    return text if len(text) < 16 else text[:12] + "..."


ALPHABETS = ["abcd", "aeéèê", "ab日é😀", "日本語中文字漢"]
EDGES = [1, 2, 63, 64, 65, 129, 127, 128, 191, 192, 193]
# Characters by the storage width of a str made only of them, with the values
# next to the surrogate range and at the ends of each width.
POOLS = {1: "ab\x00\x7f\x80é\xff", 2: "ab\u0100日\ud7ff\ue000\uf800\uffff",
         4: "ab😀\U00010000\U0001d800\U0001dfff\U0010d800\U0010ffff"}
WIDTHS = [(a, mutate(a, POOLS[int(wb)], n // 8 + 1, n, "substitute"))
          for n in (1, 16, 63, 65, 129, 1000) for wa, wb in ["11", "22", "44", "12", "24", "14"]
          for a in [rand(n, POOLS[int(wa)], n)]]
# Lone surrogates in texts of every width: the measures read a str's storage in place.
SURROGATES = [(t, "a" * len(t)) for n, at in [(1, 0), (64, 63), (65, 64), (130, 129)]
              for end in ("", "😀") for t in ["日" * at + "\udc00\ud800"[n % 2] + "日" * (n - at) + end]]
CHARACTER_EDGES = [
    *WIDTHS, *SURROGATES, *[(Sub(b), a) for a, b in SURROGATES], (Sub("😀x"), "😀y"), (Sub(""), ""),
    # Four-byte units whose low bits look like a surrogate are characters.
    *[(c * 70, c * 69 + "a") for c in ["\ud7ff", "\ue000", "\U0001d800", "\U0001dfff", "\U0010d800"]],
]

EDIT = [
    (LEVENSHTEIN, "", "", (0, 1.0)),
    (LEVENSHTEIN, "", "abc", (3, 0.0)),
    (LEVENSHTEIN, "saturday", "sunday", (3, 0.625)),
    (LEVENSHTEIN, "flaw", "lawn", (2, 0.5)),
    (LEVENSHTEIN, "café", "cafe", (1, 0.75)),
    (LEVENSHTEIN, "\u00e9", "e\u0301", (2, 0.0)),
    (LEVENSHTEIN, "Abc", "abc", (1, 1 - 1 / 3)),
    (LEVENSHTEIN, "😀a", "a😀", (2, 0.0)),
    # Common byte prefixes or suffixes that end inside a character.
    *[(LEVENSHTEIN, a, b, None) for a, b in [("é", "ê"), ("xé", "xê"), ("éx", "êx"), ("aé", "a©"),
                                              ("a😀b", "a😁b"), ("éé", "é"), ("ée", "e")]],
    # One word or several, against an alike text and an unrelated one.
    *[(LEVENSHTEIN, rand(n, al, 0), b, None) for n in EDGES for al in ALPHABETS
      for b in (mutate(rand(n, al, 0), al, n // 8 + 1, n), rand(n + n % 3, al, 1))],
    # Bands over 300 characters: a narrow one, one sized by a first bound, or full columns.
    *[(LEVENSHTEIN, rand(300, al, 0), mutate(rand(300, al, 0), al, edits, edits), None)
      for edits in (0, 1, 40, 70, 90, 120, 200) for al in ("ab", "abcdefghij", "aé日😀")],
    *[(LEVENSHTEIN, a, a[150:] + a[:150], None) for a in [rand(400, "abcdefgh", 0)]],  # a far move
    # Short patterns clear only the ASCII table entries they touch.
    *[(LEVENSHTEIN, rand(s, "abc", 0), rand(t, "abcxyzXYZ!~", 0), None)
      for s, t in [(10, 86), (10, 87), (30, 66), (64, 33), (64, 200)]],
    *[(LEVENSHTEIN, a, b + "x", None) for a, b in CHARACTER_EDGES if len(a) < 999],
    (HAMMING, "", "", (0, 1.0)),
    (HAMMING, "karolin", "kathrin", (3, 1 - 3 / 7)),
    (HAMMING, "café", "cafe", (1, 0.75)),
    (HAMMING, "A", "a", (1, 0.0)),
    (HAMMING, "😀x", "😁x", (1, 0.5)),
    # Different character counts, some with equal byte lengths.
    *[(HAMMING, a, b, None) for a, b in [("abc", "ab"), ("", "a"), ("é", "ab"), ("😀", "abcd"),
                                          ("\u00e9", "e\u0301"), ("日", "😀😀")]],
    # Byte chunks of the counting loops; one wide character in any lane.
    *[(HAMMING, rand(n, "ab", 0), rand(n, "ab", 1), None)
      for n in (7, 8, 9, 15, 16, 17, 31, 32, 33, 4079, 4080, 4081, 8161)],
    *[(HAMMING, "a" * 17, "a" * p + "é" + "a" * (15 - p), None) for p in range(16)],
    # Four-byte characters: some lanes see a continuation byte in every chunk.
    *[(HAMMING, "😀" * n, b, None) for n in (1019, 1020, 1021, 2041)
      for b in ("a" * n, "😀" * (n - 1) + "b", "a" * (n + 1))],
    *[(HAMMING, a, b, None) for a, b in CHARACTER_EDGES],
    (JARO_WINKLER, "", "", 1.0),
    (JARO_WINKLER, "", "abc", 0.0),
    (JARO_WINKLER, "MARTHA", "MARHTA", 0.9611111111111111),
    (JARO_WINKLER, "DWAYNE", "DUANE", 0.8400000000000001),
    (JARO_WINKLER, "DIXON", "DICKSONX", 0.8133333333333332),
    (JARO_WINKLER, "abcd", "abce", 0.8833333333333334),
    (JARO_WINKLER, "ab", "ba", 0.0),
    (JARO_WINKLER, "abc", "xyz", 0.0),
    (JARO_WINKLER, "prefixes", "prefixed", 0.95),  # a prefix of 7 counts 4
    (JARO_WINKLER, "café", "cafe", 0.8833333333333334),
    (JARO_WINKLER, "axxxxxxxxx", "ayyyyyyyyy", 0.45999999999999996),  # a low Jaro value, a bonus
    # b of up to 64 characters is matched with bit masks, a longer one with cursors.
    *[(JARO_WINKLER, rand(la, al, 0), rand(lb, al, 1), None)
      for la in EDGES[:6] for lb in EDGES[:6] for al in ("abc", "aé日😀")],
    *[(JARO_WINKLER, rand(n, CJK, 0), mutate(rand(n, CJK, 0), CJK, n // 10, n), None)
      for CJK in ["".join(map(chr, range(0x4E00, 0x4F2C))) + "abc"] for n in (64, 65, 500)],
]


WIDE = "".join(map(chr, range(0x4E00, 0x4E00 + 20000)))
FRESH = "".join(map(chr, range(0xAC00, 0xAD00)))  # in none of the texts


@pytest.mark.parametrize(
    "n, cut, fresh, at, alphabet",
    [(300, 62, 62, .5, "abcdefgh"), (300, 63, 63, .5, "abcdefgh"), (300, 64, 64, .5, "abcdefg"),
     (300, 66, 66, .5, "ab"), (1000, 70, 70, .5, "abcd"), (200, 150, 150, .5, "abcdefgh"),
     (1000, 100, 100, .5, "abcdefg"), (1000, 800, 800, .5, "abcd"), (3000, 2900, 2900, .5, "abcd"),
     (3000, 3000, 3000, 0, "ab"), (100, 0, 62, 1, "abcd"), (100, 0, 63, 0, "abcd"),
     (100, 0, 64, .5, "abcd"), (300, 0, 200, .5, "abcd"), (300, 200, 0, .5, "abcd"),
     (40000, 10, 10, .3, WIDE), (40000, 0, 5, .6, WIDE), (40000, 500, 0, .5, WIDE)],
    ids=short,
)
def test_levenshtein_of_long_texts(n, cut, fresh, at, alphabet):
    # Characters found nowhere else replace a block, or are scattered, so the
    # distance is known: a narrow band, a band sized by a first bound, or the
    # full columns find it, depending on its size.
    a = rand(n, alphabet, 0)
    start = int((n - cut) * at)
    b = a[:start] + rand(fresh, FRESH, 1) + a[start + cut :]
    assert kivo.levenshtein_distance(a, b) == kivo.levenshtein_distance(b, a) == max(cut, fresh)
    scattered = list(a)
    for i, p in enumerate(random.Random(n).sample(range(n), min(cut, fresh))):
        scattered[p] = FRESH[i % len(FRESH)]
    assert kivo.levenshtein_distance("".join(scattered), a) == min(cut, fresh)


def shingle_texts(length):
    base = ("ab😀cé日" * 60)[:length]
    return [(base, ("bé😀ac日" * 60)[:length]), (base, base[:-1] + "x"),
            (("abc" * 150)[:length], ("abc" * 150)[1 : length + 1])]


HUGE = [2**32, 2**63, 2**64 - 1]
SETS = [
    (jaccard(2), "night", "nacht", (1 / 7, 1 / 7)),
    (jaccard(0), "abc", "abc", 1.0),
    (jaccard(0), "abc", "abd", None),  # a window of 0 characters fails
    (jaccard(0), "", "a", None),
    (jaccard(5), "", "", 1.0),
    (jaccard(1), "", "abc", 0.0),
    (jaccard(2), "aaaa", "aa", (1.0, 1.0)),
    (jaccard(2), "héllo", "hélo", (3 / 4, 3 / 4)),
    (jaccard(2), "Hello", "hello", (3 / 5, 3 / 5)),
    (jaccard(3), "ab", "abc", (0.0, 0.0)),
    (jaccard(3), "abcde", "abcdf", (2 / 4, 2 / 4)),
    (jaccard(1), "\u00e9", "e\u0301", 0.0),
    *[(jaccard(n), a, b, None) for n in HUGE for a, b in [("abc", "abd"), ("é😀", "é😀")]],
    (JACCARD_WORD, "", "   ", 1.0),
    (JACCARD_WORD, "a", "", 0.0),
    (JACCARD_WORD, "the cat", "cat the the", 1.0),
    (JACCARD_WORD, "Hello, world", "hello world", 1 / 3),
    (JACCARD_WORD, "a\u00a0b", "a b", 1.0),
    (JACCARD_WORD, "a\u3000b", "b\ta", 1.0),
    (JACCARD_WORD, "a\u200bb", "a b", 0.0),
    (JACCARD_WORD, "  a \n\r\x0b\x0c\x85 b  ", "a b", 1.0),
    (JACCARD_WORD, "a\x1cb", "a b", 0.0),  # Python's str.split would split here
    (minhash(3, 0), "abc", "abc", None),  # NaN, and empty signatures
    (minhash(0, 4), "abc", "abc", None),  # a window of 0 fails even for equal texts
    (simhash(0), "", "", None),
    *[(minhash(k, m), a, b, None) for k in (1, 2, 3) for m in (1, 16, 17, 129)
      for a, b in [("", ""), ("héllo wörld 日本語 😀" * 5, "héllo world")]],
    (minhash(3, 128), "the quick brown fox", "the quick brown cat", None),
    *[(f(n), a, b, None) for n in HUGE for f in (simhash, lambda n: minhash(n, 3))
      for a, b in [("é😀 text", "é😀 text"), ("abc", "abd")]],
    (simhash(4), "hello world", "hello there", None),
    # Windows up to a text's length and beyond, around 64 characters; long
    # windows of long texts are counted through a suffix array.
    *[(f(n), a, b, None) for length in (62, 63, 64, 65, 66, 200, 256, 257)
      for n in sorted({1, 2, 3, 4, 15, 16, 17, 63, 64, 65, 100, length - 1, length, length + 1})
      for a, b in shingle_texts(length) for f in (jaccard, simhash, lambda n: minhash(n, 16))],
    # ASCII windows of up to eight bytes are hashed without decoding, and long
    # texts' windows of one to three bytes are deduplicated by their bytes.
    *[(minhash(k, 8), a, a[: n // 2] + rand(n - n // 2, "xyz \x00", 1), None)
      for k in (1, 2, 3, 4, 8, 9) for n in (2, 3, 9, 8195)
      for a in [rand(n, "abcdefghij klmnop\x00\x7f", k)]],
    *[(minhash(k, 16), t, t + "é", None) for k in (1, 2, 3)
      for t in ["".join(map(chr, range(128))) * 70 + rand(200, "abc", k)]],
]


@pytest.mark.parametrize(
    "function, args, expected",
    [
        (kivo.minhash_signature, ("abc", 3, 2), [107385297314013898, 2242858558886249666]),
        (kivo.minhash_signature, ("abc", 4, 2), [107385297314013898, 2242858558886249666]),
        (kivo.minhash_signature, ("", 3, 2), [214467063832468254, 1007223326381081109]),
        (kivo.simhash_fingerprint, ("abc", 4), 16654208175385433931),
        (kivo.simhash_fingerprint, ("", 1), 0xCBF29CE484222325),
        (kivo.simhash_fingerprint, ("abcd", 3), 8763215064401474),  # ties give 0
        (kivo.simhash_fingerprint, ("abab", 2), models.fnv1a64("ab")),  # repeats weigh
        (kivo.simhash_fingerprint_default, ("hello world",), 5375315141837979940),
        (kivo.simhash_similarity_default, ("hello world", "hello there"), 0.71875),
    ],
)
def test_known_hashes(function, args, expected):
    assert function(*args) == expected


def tokenized(text):
    """The text's terms as the model cuts them, joined by spaces."""
    return " ".join(models.tokenize_terms(text))


TERMS = [
    (BM25, "", "cat", 0.0),
    (BM25, " \t!?", "cat", 0.0),
    (BM25, "cat", "...", 0.0),
    (BM25, "the cat sat", "sat the cat", 1.0),
    (BM25, "Cat!", "cat", 1.0),
    (BM25, "cat", "cat dog", 0.7600000000000001),
    (BM25, "cat", "cat cat", 1.0),
    (BM25, "cat cat", "cat", 0.9210526315789473),
    (BM25, "cat", "dog", 0.0),
    (TFIDF, "", "", 1.0),
    (TFIDF, "!!!", "", 1.0),
    (TFIDF, "a", "", 0.0),
    (TFIDF, "the cat", "the dog", 0.33609692727625745),
    (TFIDF, "a b", "b a", 0.9999999999999998),
    (TFIDF, "apple", "apple apple", 1.0),
    (TFIDF, "cat sat", "dog ran", 0.0),  # positive zero
    (TFIDF, "a a b c", "a a b c", 1.0000000000000002),  # the cosine is not clamped
    (TFIDF, "\u00a0hello\u2028WORLD\u3000", "Hello, World!", 0.9999999999999998),
    *[(m, a, b, None) for m in (BM25, TFIDF) for a, b in [
        ("ΟΔΟΣ.", "οδος"), ("don’t", "don't"), ("ÀB cd", "àb CD"), ("ΣΑΣ ab", "σας AB"),
        ("The CAT sat", "the cat SAT!"), (("Supercalifragilistic " + "x" * 40 + " u ") * 300,
                                          ("SUPERCALIFRAGILISTIC " + "y" * 40 + " ") * 200)]],
    # The tokenizer splits at whitespace and ASCII punctuation only, and
    # lowercases each term by itself.
    *[(m, t, tokenized(t), None) for m in (BM25, TFIDF) for t in [
        "Hello, World! It's", "a--b  c", "3.14 naïve «café»", "don’t stop…", "ÉCOLE İ \U00010400x",
        "a\u200bb c\x7fd e\x80f \x01x\x1f", "ΟΣ-Α", "A'Σ", "the the", "x\xa0y\u3000z\u2029w\x85v"]],
    *[(m, "alpha beta, gamma! " * n + " ".join(f"t{i}" for i in range(n)),
       "beta gamma delta " * (n // 2 + 1) + " ".join(f"t{i}" for i in range(0, n, 3)), None)
      for m in (BM25, TFIDF) for n in (1000, 20_000)],
]


@pytest.mark.parametrize("measure, a, b, expected", EDIT + SETS + TERMS, ids=short)
def test_measures(measure, a, b, expected):
    got = check(measure, a, b)
    assert expected is None or got == expected


# Characters that all fell into one slot under the old unkeyed code-point hash:
# the tables must still map every one of them correctly.
CROWDED = [
    chr(c)
    for c in range(0x80, 0x30000)
    if not 0xD800 <= c < 0xE000 and (c * 0x9E3779B1 & 0xFFFFFFFF) >> 25 == 0
][:400]


@pytest.mark.parametrize("n", [40, 64, 65, 300])
def test_characters_crowded_under_a_fixed_hash(n):
    a = "".join(random.Random(n).choice(CROWDED) for _ in range(n))
    b = mutate(a, CROWDED, n // 8 + 1, n)
    for measure in (LEVENSHTEIN, JARO_WINKLER):
        check(measure, a, b)
