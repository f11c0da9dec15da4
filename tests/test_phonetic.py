"""kivo.phonetic and kivo.batch.encode through the Python surface: published
examples, the reading of any script, exact argument errors, the plain models,
agreement with jellyfish and doublemetaphone, and encode against single calls."""

import csv
import gzip
import pathlib
import random
import string
from importlib import metadata

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kivo
import kivo.batch
import kivo.phonetic as ph
import models
from strategies import texts

KEYS = [ph.soundex, ph.nysiis, ph.metaphone, ph.double_metaphone, ph.match_rating_codex]
FEBRL = pathlib.Path(__file__).resolve().parent.parent / "examples" / "data" / "febrl3.csv.gz"


def febrl_names():
    with gzip.open(FEBRL, "rt") as f:
        rows = list(csv.reader(f))[1:]
    words = {w.strip() for row in rows for col in (1, 2, 6) for w in row[col].split()}
    return sorted(w for w in words if w.isascii() and w.isalpha())


@pytest.mark.parametrize(
    "key, text, expected",
    [
        (ph.soundex, "Robert", "R163"),
        (ph.soundex, "Rupert", "R163"),
        (ph.soundex, "Rubin", "R150"),
        (ph.soundex, "Ashcraft", "A261"),  # H does not separate S and C
        (ph.soundex, "Tymczak", "T522"),  # a vowel separates the two Cs' digit
        (ph.soundex, "Pfister", "P236"),  # F has the first letter's digit
        (ph.soundex, "Lee", "L000"),
        (ph.nysiis, "Mackenzie", "MCANSY"),
        (ph.nysiis, "Knight", "NAGT"),
        (ph.nysiis, "Schmidt", "SNAD"),
        (ph.nysiis, "Stewart", "STAEAD"),
        (ph.metaphone, "Knight", "NT"),
        (ph.metaphone, "Thompson", "0MPSN"),
        (ph.metaphone, "Xavier", "SFR"),
        (ph.metaphone, "Whale", "WL"),
        (ph.metaphone, "Schmidt", "SXMTT"),
        (ph.double_metaphone, "Smith", ("SM0", "XMT")),
        (ph.double_metaphone, "Schmidt", ("XMT", "SMT")),
        (ph.double_metaphone, "Thompson", ("TMPSN", "TMPSN")),
        (ph.double_metaphone, "Jose", ("HS", "HS")),
        (ph.double_metaphone, "Caesar", ("SSR", "SSR")),
        (ph.double_metaphone, "Michael", ("MKL", "MXL")),
        (ph.double_metaphone, "Rogier", ("RJ", "RJR")),
        (ph.double_metaphone, "Abercrombie", ("APRKRMP", "APRKRMP")),  # not cut to four
        (ph.match_rating_codex, "Catherine", "CTHRN"),
        (ph.match_rating_codex, "Bartholomew", "BRTLMW"),  # first three and last three
    ],
)
def test_published_examples(key, text, expected):
    assert key(text) == expected
    assert key(text.upper()) == key(text.lower()) == expected


@pytest.mark.parametrize(
    "a, b, expected",
    [("Byrne", "Boern", True), ("Smith", "Smyth", True), ("Catherine", "Kathryn", True),
     ("Smith", "Jones", False), ("Bob", "Bartholomew", None), ("", "", True)],
)  # fmt: skip
def test_match_rating_comparison(a, b, expected):
    assert ph.match_rating_comparison(a, b) is expected
    assert ph.match_rating_comparison(b, a) is expected


@pytest.mark.parametrize(
    "text, same_as",
    [("Éric", "Eric"), ("Müller", "Muller"), ("Straße", "Strasse"), ("Łukasz", "Lukasz"),
     ("Ærøskøbing", "Aeroskobing"), ("Œuvre", "Oeuvre"), ("Đorđe", "Dorde"), ("e\u0301ric", "eric"),
     ("\u212aelvin", "Kelvin"), ("O'Brien-Smith 3rd", "OBrienSmithrd"), ("Иван Łódź", "Lodz"),
     ("李小龍", ""), ("😀\u00a0\u200b", ""), ("", "")],
)  # fmt: skip
def test_texts_read_as_their_latin_letters(text, same_as):
    assert models.latin_letters(text) == same_as.upper()
    for key in KEYS:
        assert key(text) == key(same_as)


@pytest.mark.parametrize("width", ["", "\u0400", "\U0001f600"])
def test_every_latin_character_reads_as_the_model_says(width):
    # The characters below U+0180 are read from a table, the rest decomposed:
    # both sides of the boundary, in texts of each code-unit width.
    for c in map(chr, [*range(0x250), 0x1E9E, 0x212A, 0xFB00]):
        text = c + "x" + c + c + width
        letters = models.latin_letters(text)
        for key in KEYS:
            assert key(text) == key(letters), (hex(ord(c)), key.__name__)
    texts = [chr(c) * 3 + width for c in range(0x250)]
    for key in KEYS:
        assert kivo.batch.encode(texts, encoder=key) == [key(t) for t in texts]


@pytest.mark.parametrize("key", KEYS)
def test_a_text_without_latin_letters_has_the_empty_key(key):
    assert key("1234 !? Иван") == (("", "") if key is ph.double_metaphone else "")


@pytest.mark.parametrize("key", [*KEYS, ph.match_rating_comparison])
def test_argument_errors(key):
    n = 2 if key is ph.match_rating_comparison else 1
    names = ["a", "b"] if n == 2 else ["text"]
    for bad in [None, 1, b"x", ["x"]]:
        with pytest.raises(TypeError, match="is not an instance of 'str'") as raised:
            key(*(["x"] * (n - 1)), bad)
        assert raised.value.__notes__ == [f"while processing '{names[-1]}'"]
    with pytest.raises(UnicodeEncodeError) as raised:
        key("x\ud800", *(["x"] * (n - 1)))
    assert raised.value.__notes__ == [f"while processing '{names[0]}'"]
    assert key(**{name: "Smith" for name in names}) == key(*["Smith"] * n)
    with pytest.raises(TypeError, match="missing"):
        key()


class Sub(str):
    def __str__(self):
        return "other"


@pytest.mark.parametrize("key", KEYS)
def test_str_subclasses_are_read_for_their_characters(key):
    assert key(Sub("Robert")) == key("Robert")


@settings(max_examples=300, deadline=None)
@given(texts(max_size=30), texts(max_size=30))
def test_any_text_keys_as_its_letters_do(a, b):
    letters = models.latin_letters(a)
    for key in KEYS:
        assert key(a) == key(letters)
    assert ph.soundex(a) == models.soundex(a)
    assert ph.match_rating_codex(a) == models.match_rating_codex(a)
    assert ph.match_rating_comparison(a, b) == models.match_rating_comparison(a, b)


NAMEISH = st.text(st.sampled_from("AEIOUYHWBCDGKLMNPRSTXZ" + "aeiouchgst"), max_size=14)


@settings(max_examples=400, deadline=None)
@given(NAMEISH)
def test_key_alphabets_and_lengths(name):
    letters = set(string.ascii_uppercase)
    s = ph.soundex(name)
    assert s == "" if not name else (len(s) == 4 and s[0] in letters and s[1:].isdigit())
    assert set(ph.nysiis(name)) <= letters and len(ph.nysiis(name)) <= max(len(name), 1) + 2
    assert set(ph.metaphone(name)) <= letters | {"0"}
    primary, alternate = ph.double_metaphone(name)
    assert set(primary + alternate) <= letters | {"0"}
    assert len(ph.match_rating_codex(name)) <= 6 and set(ph.match_rating_codex(name)) <= letters
    assert ph.match_rating_comparison(name, name) in (True, None)


# --- peers -------------------------------------------------------------------


@pytest.fixture(scope="module")
def names():
    return febrl_names()


def random_names(count, seed):
    rng = random.Random(seed)
    alphabet = string.ascii_uppercase + "AEIOUHCSGTW" * 2
    return ["".join(rng.choice(alphabet) for _ in range(rng.randint(1, 9))) for _ in range(count)]


def jellyfish_1():
    """jellyfish 1.x, the reference; where only 0.x installs (it has no
    free-threaded build), its older encodings differ."""
    jellyfish = pytest.importorskip("jellyfish")
    if int(metadata.version("jellyfish").split(".")[0]) < 1:
        pytest.skip(f"jellyfish {metadata.version('jellyfish')} predates 1.0")
    return jellyfish


@pytest.mark.parametrize("name", ["soundex", "nysiis", "metaphone", "match_rating_codex"])
def test_agrees_with_jellyfish(name, names):
    jellyfish = jellyfish_1()
    ours, theirs = getattr(ph, name), getattr(jellyfish, name)
    for text in names + random_names(20000, 1):
        assert ours(text) == theirs(text), text


def test_match_rating_comparison_agrees_with_jellyfish(names):
    jellyfish = jellyfish_1()
    rng = random.Random(3)
    for _ in range(20000):
        a = rng.choice(names)
        b = rng.choice(names) if rng.random() < 0.5 else a[:-1] + rng.choice("aeiobdt")
        assert ph.match_rating_comparison(a, b) == jellyfish.match_rating_comparison(a, b), (a, b)


def test_double_metaphone_agrees_with_the_original(names):
    dm = pytest.importorskip("doublemetaphone")
    for text in names + random_names(20000, 2):
        assert ph.double_metaphone(text) == tuple(dm.doublemetaphone(text)), text


@pytest.mark.parametrize(
    "name, text, ours, jellyfish_gives",
    [
        ("soundex", "123", "", "1000"),  # a digit is no first letter
        ("soundex", " ", "", " 000"),
        ("nysiis", "O'Brien", "OBRAN", "O'BRAN"),  # punctuation is no sound
        ("nysiis", "van Damme", "VANDAN", "VAN DAN"),
        ("metaphone", "Mary-Ann", "MRYN", "MRN"),  # letters only: read as "MaryAnn"
        ("metaphone", "van Damme", "FNTM", "FN TM"),
        ("match_rating_codex", "O'Brien", "OBRN", ValueError),  # jellyfish refuses it
    ],
)
def test_documented_differences_from_jellyfish(name, text, ours, jellyfish_gives):
    assert getattr(ph, name)(text) == ours
    jellyfish = jellyfish_1()
    if isinstance(jellyfish_gives, type):
        with pytest.raises(jellyfish_gives):
            getattr(jellyfish, name)(text)
    else:
        assert getattr(jellyfish, name)(text) == jellyfish_gives


# --- kivo.batch.encode -------------------------------------------------------


@pytest.mark.parametrize("encoder", KEYS)
@pytest.mark.parametrize("workers", [1, 2, -1])
def test_encode_equals_the_single_calls(encoder, workers, names):
    batch = names[:4999] + ["", "Ærø", "李", "O'Brien"]  # past two blocks of texts
    got = kivo.batch.encode(batch, encoder=encoder, workers=workers)
    assert got == [encoder(t) for t in batch]
    assert kivo.batch.encode(tuple(batch[:3]), encoder=encoder) == got[:3]
    assert kivo.batch.encode([], encoder=encoder) == []


@settings(max_examples=100, deadline=None)
@given(st.lists(texts(max_size=20), max_size=12), st.sampled_from(KEYS))
def test_encode_equals_the_single_calls_on_any_text(batch, encoder):
    assert kivo.batch.encode(batch, encoder=encoder, workers=2) == [encoder(t) for t in batch]


@pytest.mark.parametrize(
    "encoder",
    [ph.match_rating_comparison, kivo.levenshtein_distance, len, lambda t: t, "soundex", None],
)
def test_encode_refuses_what_is_no_key_function(encoder):
    with pytest.raises(TypeError, match="encoder must be one of kivo.phonetic's key functions") as e:
        kivo.batch.encode(["a"], encoder=encoder)
    assert e.value.__notes__ == ["while processing 'encoder'"]


@pytest.mark.parametrize(
    "texts, error, message",
    [
        ("Smith", TypeError, "Can't extract `str` to `Vec`"),
        (["a", 1], TypeError, "'int' object is not an instance of 'str'"),
        (["a", "b\udc80"], UnicodeEncodeError, "surrogates not allowed"),
        (5, TypeError, "is not an instance of 'Sequence'"),
    ],
)
def test_encode_reads_texts_as_kivo_batch_does(texts, error, message):
    with pytest.raises(error, match=message) as e:
        kivo.batch.encode(texts, encoder=ph.soundex)
    assert e.value.__notes__ == ["while processing 'texts'"]


def test_encode_arguments():
    with pytest.raises(ValueError, match="workers must be -1"):
        kivo.batch.encode(["a"], encoder=ph.soundex, workers=0)
    with pytest.raises(TypeError, match="takes 1 positional argument"):
        kivo.batch.encode(["a"], ph.soundex)
    with pytest.raises(TypeError, match="missing required keyword-only argument: 'encoder'"):
        kivo.batch.encode(["a"])
    assert kivo.batch.encode(texts=["Lee"], encoder=ph.soundex) == ["L000"]


# encode reads a list or tuple in chunks of 8,192 texts a worker (two workers:
# 16,384), and makes one object per distinct key: sizes around those edges,
# repeated names, keys longer than 16 characters, names beyond ASCII.
REPEATED = ["Smith", "Smyth", "Ærøskøbing", "李", "", "Wolfeschlegelsteinhausenbergerdorff",
            "Wolfeschlegelsteinhausenbergerdorffs", "O'Brien-Müller", "Zoë"]  # fmt: skip


@pytest.mark.parametrize("encoder", KEYS)
@pytest.mark.parametrize("size", [8191, 8192, 8193, 16385])
def test_encode_over_chunks_equals_the_single_calls(encoder, size):
    texts = [REPEATED[(j * 7) % len(REPEATED)] + ("" if j % 3 else "son") for j in range(size)]
    want = [encoder(t) for t in texts]
    assert kivo.batch.encode(texts, encoder=encoder) == want
    assert kivo.batch.encode(tuple(texts), encoder=encoder, workers=2) == want
    # A list of a subclass is read at once, as other sequences are.
    assert kivo.batch.encode(type("Names", (list,), {})(texts), encoder=encoder) == want


def test_encode_names_the_position_of_a_null_in_a_later_chunk():
    with pytest.raises(ValueError, match="^null at position 9000") as e:
        kivo.batch.encode(["Lee"] * 9000 + [None], encoder=ph.soundex)
    assert e.value.__notes__ == ["while processing 'texts'"]


@settings(max_examples=25, deadline=None)
@given(st.lists(texts(max_size=20), min_size=1, max_size=8), st.sampled_from(KEYS))
def test_encode_of_names_repeated_over_chunks_equals_the_single_calls(pool, encoder):
    # Known names skip their encoding: equal bytes of another width (U+0141
    # is 0x41 0x01, as "A\x01" is) or another length must not match.
    pool = pool + ["A\x01", "\u0141", "ab", "abb", "abab", "abcdefgh", "abcdefghi"]
    names = [pool[(j * 5) % len(pool)] for j in range(9000)]
    assert kivo.batch.encode(names, encoder=encoder) == [encoder(t) for t in names]


@pytest.mark.parametrize("encoder", KEYS)
def test_encode_of_distinct_names_then_repeated_ones_equals_the_single_calls(encoder):
    """Names that do not repeat turn the sharing of keys and the lookup of
    names off after a chunk or two; names seen before that, repeated later,
    still key as the single calls do."""
    rng = random.Random(3)
    distinct = sorted({"".join(rng.choices(string.ascii_lowercase, k=rng.randint(8, 12))) for _ in range(30_000)})
    names = distinct + distinct[:9000] + REPEATED * 1000
    assert kivo.batch.encode(names, encoder=encoder) == [encoder(t) for t in names]
