"""The fast edit-distance kernels against plain models, at every boundary the
kernels introduce: one 64-bit word or several, the band of alike texts, the
ASCII table and the map of other characters, stripped prefixes and suffixes,
vector chunks of the byte loops."""

import random

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kivo
import models
from strategies import ALPHABET, texts


def mutate(text: str, alphabet: str, edits: int, rng: random.Random) -> str:
    chars = list(text)
    for _ in range(edits):
        pos = rng.randrange(len(chars) + 1)
        op = rng.randrange(3)
        if op == 0 or pos == len(chars):
            chars.insert(pos, rng.choice(alphabet))
        elif op == 1:
            del chars[pos]
        else:
            chars[pos] = rng.choice(alphabet)
    return "".join(chars)


WORD_EDGES = [1, 2, 63, 64, 65, 127, 128, 129, 191, 192, 193]
ALPHABETS = {
    "ascii": "abcd",
    "latin": "aeéèê",
    "mixed": "ab日é😀",
    "wide": "日本語中文字漢",
}


class TestLevenshtein:
    @pytest.mark.parametrize("n", WORD_EDGES)
    @pytest.mark.parametrize("alphabet", ALPHABETS.values(), ids=ALPHABETS.keys())
    def test_word_boundaries(self, n, alphabet):
        rng = random.Random(n)
        a = "".join(rng.choice(alphabet) for _ in range(n))
        for b in (mutate(a, alphabet, n // 8 + 1, rng),
                  "".join(rng.choice(alphabet) for _ in range(n + rng.randrange(3)))):
            expected = models.levenshtein_distance(a, b)
            assert kivo.levenshtein_distance(a, b) == expected
            assert kivo.levenshtein_distance(b, a) == expected

    @pytest.mark.parametrize("edits", [0, 1, 40, 70, 90, 120, 200])
    @pytest.mark.parametrize("alphabet", ["ab", "abcdefghij", "aé日😀"])
    def test_band_of_alike_texts(self, edits, alphabet):
        # 300 characters: a narrow band first, a second band sized by its
        # bound, or the full columns, depending on the distance.
        rng = random.Random(edits)
        a = "".join(rng.choice(alphabet) for _ in range(300))
        b = mutate(a, alphabet, edits, rng)
        assert kivo.levenshtein_distance(a, b) == models.levenshtein_distance(a, b)

    def test_long_shifted_text(self):
        # A block moved far away: the optimal path leaves the narrow band.
        rng = random.Random(3)
        a = "".join(rng.choice("abcdefgh") for _ in range(400))
        b = a[150:] + a[:150]
        assert kivo.levenshtein_distance(a, b) == models.levenshtein_distance(a, b)

    @pytest.mark.parametrize(
        "n, replaced",
        [(300, 62), (300, 63), (300, 64), (200, 150), (1000, 100), (1000, 800), (3000, 2900)],
    )
    def test_known_distances_of_long_texts(self, n, replaced):
        # The middle is replaced by characters found nowhere else, so every
        # one of them costs an edit: the distance is exactly `replaced`.
        # Small and large distances take different routes (a narrow band, a
        # band sized by a first bound, or the full columns after giving up).
        rng = random.Random(n + replaced)
        a = "".join(rng.choice("abcdefgh") for _ in range(n))
        start = (n - replaced) // 2
        fresh = "".join(rng.choice("xyzé日") for _ in range(replaced))
        b = a[:start] + fresh + a[start + replaced:]
        assert kivo.levenshtein_distance(a, b) == replaced
        assert kivo.levenshtein_distance(b, a) == replaced
        assert kivo.levenshtein_distance("a" * n, "b" * n) == n

    @pytest.mark.parametrize("n, added", [(100, 62), (100, 63), (100, 64), (300, 200)])
    def test_lengths_far_apart(self, n, added):
        # The length difference alone sets the band's width.
        rng = random.Random(n + added)
        a = "".join(rng.choice("abcd") for _ in range(n))
        fresh = "".join(rng.choice("xyz") for _ in range(added))
        for b in (a + fresh, fresh + a, a[: n // 2] + fresh + a[n // 2:]):
            assert kivo.levenshtein_distance(a, b) == added
            assert kivo.levenshtein_distance(b, a) == added

    @pytest.mark.parametrize("short, long", [(10, 86), (10, 87), (30, 66), (64, 33), (64, 200)])
    def test_ascii_table_clearing(self, short, long):
        # Short inputs clear only the table entries they touch; longer ones
        # clear it all. Characters of the text absent from the pattern must
        # read as no match either way.
        rng = random.Random(short * 1000 + long)
        a = "".join(rng.choice("abc") for _ in range(short))
        b = "".join(rng.choice("abcxyzXYZ!~") for _ in range(long))
        assert kivo.levenshtein_distance(a, b) == models.levenshtein_distance(a, b)
        assert kivo.levenshtein_distance(b, a) == models.levenshtein_distance(a, b)

    @pytest.mark.parametrize(
        "a, b",
        [
            ("", ""), ("", "é"), ("é", ""), ("aaa", "aaaa"), ("abab", "ab"), ("ab", "abab"),
            # The common byte prefix or suffix ends inside a character.
            ("é", "ê"), ("xé", "xê"), ("éx", "êx"), ("é", "©"), ("aé", "a©"), ("日本", "日末"),
            ("😀", "😁"), ("a😀b", "a😁b"), ("éé", "é"), ("ée", "e"),
        ],
    )
    def test_common_affixes(self, a, b):
        assert kivo.levenshtein_distance(a, b) == models.levenshtein_distance(a, b)
        assert kivo.levenshtein_distance(b, a) == models.levenshtein_distance(a, b)

    @pytest.mark.parametrize("edit", ["substitute", "insert", "delete"])
    def test_many_distinct_wide_characters(self, edit):
        # Tens of thousands of distinct characters: the map keeps sparse rows.
        # Every edit brings in a character absent elsewhere (or removes one),
        # so the distance is exactly the number of edits.
        base = "".join(chr(0x4E00 + i) for i in range(20000)) * 2
        fresh = iter(chr(0xAC00 + i) for i in range(1000))
        chars = list(base)
        spots = range(500, len(chars) - 500, 4000)
        for pos in reversed(spots):
            if edit == "substitute":
                chars[pos] = next(fresh)
            elif edit == "insert":
                chars.insert(pos, next(fresh))
            else:
                del chars[pos]
        other = "".join(chars)
        assert kivo.levenshtein_distance(base, other) == len(spots)
        assert kivo.levenshtein_distance(other, base) == len(spots)

    @settings(max_examples=200, deadline=None)
    @given(st.text(alphabet=ALPHABET, min_size=50, max_size=150), st.data())
    def test_alike_texts_agree_with_model(self, a, data):
        edits = data.draw(st.integers(0, 30))
        b = mutate(a, "".join(sorted(set(a))) or "a", edits, random.Random(edits))
        assert kivo.levenshtein_distance(a, b) == models.levenshtein_distance(a, b)


class TestJaroWinkler:
    @pytest.mark.parametrize("la", [0, 1, 2, 3, 30, 64, 65, 130, 300])
    @pytest.mark.parametrize("lb", [1, 2, 3, 63, 64, 65, 129, 300])
    @pytest.mark.parametrize("alphabet", ["abc", "aé日😀"], ids=["ascii", "mixed"])
    def test_lengths_around_one_word(self, la, lb, alphabet):
        # b up to 64 characters: bit-parallel matching; longer: cursors.
        rng = random.Random(la * 1000 + lb)
        a = "".join(rng.choice(alphabet) for _ in range(la))
        b = "".join(rng.choice(alphabet) for _ in range(lb))
        assert kivo.jaro_winkler_similarity(a, b) == models.jaro_winkler(a, b)
        assert kivo.jaro_winkler_similarity(b, a) == models.jaro_winkler(b, a)

    @pytest.mark.parametrize("n", [64, 65, 500])
    def test_alike_long_texts(self, n):
        rng = random.Random(n)
        alphabet = "".join(chr(0x4E00 + i) for i in range(300)) + "abc"
        a = "".join(rng.choice(alphabet) for _ in range(n))
        b = mutate(a, alphabet, n // 10, rng)
        assert kivo.jaro_winkler_similarity(a, b) == models.jaro_winkler(a, b)

    @settings(max_examples=300, deadline=None)
    @given(texts(90), texts(90))
    def test_agrees_with_model(self, a, b):
        assert kivo.jaro_winkler_similarity(a, b) == models.jaro_winkler(a, b)


class TestHamming:
    @pytest.mark.parametrize("n", [1, 7, 8, 9, 15, 16, 17, 31, 32, 33, 4079, 4080, 4081, 8161])
    def test_byte_chunks(self, n):
        rng = random.Random(n)
        a = "".join(rng.choice("ab") for _ in range(n))
        b = "".join(rng.choice("ab") for _ in range(n))
        assert kivo.hamming_distance(a, b) == models.hamming_distance(a, b)
        assert kivo.hamming_distance(a, a) == 0  # every lane counts equal bytes

    @pytest.mark.parametrize("n", [16, 17, 40])
    def test_one_wide_character_in_any_lane(self, n):
        # Equal byte lengths but one character fewer: no lane may hide the
        # non-ASCII byte and let the texts pass as equally long.
        for pos in range(n - 1):
            other = "a" * pos + "é" + "a" * (n - pos - 2)
            with pytest.raises(ValueError, match="Strings must have equal length"):
                kivo.hamming_distance("a" * n, other)

    @pytest.mark.parametrize("n", [1019, 1020, 1021, 2041])
    def test_character_counts_of_long_wide_texts(self, n):
        # Four-byte characters: some byte lanes see a continuation byte in
        # every chunk, the most a lane can count before it is summed.
        emoji = "😀" * n
        assert kivo.hamming_distance(emoji, "a" * n) == n
        assert kivo.hamming_distance(emoji, emoji[:-1] + "b") == 1
        with pytest.raises(ValueError):
            kivo.hamming_distance(emoji, "a" * (n + 1))

    @settings(max_examples=300, deadline=None)
    @given(st.data())
    def test_agrees_with_model(self, data):
        a = data.draw(texts(60))
        b = data.draw(st.text(alphabet=ALPHABET, min_size=len(a), max_size=len(a)))
        b = "".join(x if data.draw(st.booleans()) else y for x, y in zip(a, b))
        assert kivo.hamming_distance(a, b) == models.hamming_distance(a, b)
        assert kivo.hamming_similarity(a, b) == models.hamming_similarity(a, b)
