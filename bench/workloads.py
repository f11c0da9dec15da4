"""Deterministic inputs for the benchmark: pairs of texts and documents."""

import random

WORDS = (
    "the of and to in is that it was for on are as with his they at be this from have or by "
    "one had not but what all were when we there can an your which their said if do will each "
    "about how up out them then she many some so these would other into has more her two like "
    "him see time could no make than first been its who now people my made over did down only "
    "way find use may water long little very after words called just where most know get "
    "through back much before go good new write our used me man too any day same right look "
    "think also around another came come work three word must because does part even place "
    "well such here take why things help put years different away again off went old number"
).split()

FIRST = "James Mary John Patricia Robert Jennifer Michael Linda William Elizabeth David Susan".split()
LAST = "Smith Johnson Williams Brown Jones Garcia Miller Davis Rodriguez Martinez Wilson".split()

ACCENTED = "aàâäbcçdeéèêëfghiîïjklmnoôöpqrstuùûüvwxyÿz "
GREEK = "αβγδεζηθικλμνξοπρσςτυφχψω "
CJK = "".join(chr(c) for c in range(0x4E00, 0x4E00 + 400))


FIBONACCI_32 = 0x9E3779B1  # the multiplier of unkeyed 32-bit Fibonacci hashing
NON_ASCII = 0x110000 - 0x80 - 0x800  # code points from U+0080, surrogates left out


def _non_ascii(index: int) -> int:
    """The index-th non-ASCII code point that is not a surrogate."""
    c = 0x80 + index
    return c + 0x800 if c >= 0xD800 else c


def crowded_code_points(count: int, bits: int) -> list[str]:
    """Characters that an unkeyed Fibonacci hash sends to the first slots of a
    table of 2**bits slots (the slot being the hash's top bits): the input a
    hash-flooding attack on such a table would use."""
    slot_of = lambda c: (c * FIBONACCI_32 & 0xFFFFFFFF) >> (32 - bits)  # noqa: E731
    limit = count * 2**bits // NON_ASCII + 2  # slots that hold about `count` code points
    while True:
        # Within a slot, scrambled order: from every plane, like random text.
        found = sorted((slot_of(c), c * 0x2545F491 & 0xFFFFFFFF, c)
                       for c in map(_non_ascii, range(NON_ASCII)) if slot_of(c) < limit)
        if len(found) >= count:
            return [chr(c) for _, _, c in found[:count]]
        limit *= 2


def random_code_points(count: int, rng: random.Random) -> list[str]:
    """`count` distinct non-ASCII characters drawn at random."""
    return [chr(_non_ascii(i)) for i in rng.sample(range(NON_ASCII), count)]


def _mutate(text: str, alphabet: str, edits: int, rng: random.Random) -> str:
    """Substitutions, insertions and deletions at random places."""
    chars = list(text)
    for _ in range(edits):
        op = rng.randrange(3)
        pos = rng.randrange(len(chars) + 1)
        if op == 0 or not chars or pos == len(chars):
            chars.insert(pos, rng.choice(alphabet))
        elif op == 1:
            del chars[pos]
        else:
            chars[pos] = rng.choice(alphabet)
    return "".join(chars)


def prose(length: int, rng: random.Random) -> str:
    out = []
    size = 0
    while size < length:
        word = rng.choice(WORDS)
        out.append(word)
        size += len(word) + 1
    return " ".join(out)[:length]


def random_text(length: int, alphabet: str, rng: random.Random) -> str:
    return "".join(rng.choice(alphabet) for _ in range(length))


def name_pairs(rng: random.Random, count: int = 16) -> list[tuple[str, str]]:
    """Short ASCII pairs (at most 16 characters): names with a typo or two."""
    pairs = []
    alphabet = "abcdefghijklmnopqrstuvwxyz"
    for _ in range(count):
        name = f"{rng.choice(FIRST)} {rng.choice(LAST)}"[:16]
        other = _mutate(name, alphabet, rng.randint(1, 2), rng)[:16]
        pairs.append((name, other))
    return pairs


def similar_pair(length: int, alphabet: str | None, rng: random.Random) -> tuple[str, str]:
    """A text and a copy with about one edit in ten characters."""
    text = prose(length, rng) if alphabet is None else random_text(length, alphabet, rng)
    other = _mutate(text, alphabet or "abcdefghijklmnopqrstuvwxyz ", length // 10 + 1, rng)
    return text, other


def unrelated_pair(length: int, alphabet: str | None, rng: random.Random) -> tuple[str, str]:
    """Two independent texts of the same length."""
    if alphabet is None:
        return prose(length, rng), prose(length, rng)
    return random_text(length, alphabet, rng), random_text(length, alphabet, rng)


def equal_length_pair(length: int, alphabet: str, rng: random.Random) -> tuple[str, str]:
    """Two texts of the same length differing by substitutions (for Hamming)."""
    text = random_text(length, alphabet, rng)
    chars = list(text)
    for _ in range(length // 8 + 1):
        chars[rng.randrange(length)] = rng.choice(alphabet)
    return text, "".join(chars)


def one_letter_pair(length: int) -> tuple[str, str]:
    """'é' repeated and a copy whose last letter is 'x': every window of a text
    is the same, which costs most where each window is compared in full."""
    return "é" * length, "é" * (length - 1) + "x"


def random_pair_like(length: int, alphabet: str, rng: random.Random) -> tuple[str, str]:
    """A random text and a copy whose last letter differs."""
    text = random_text(length, alphabet, rng)
    last = alphabet[0] if text[-1] != alphabet[0] else alphabet[1]
    return text, text[:-1] + last


def document(size: int, rng: random.Random) -> str:
    """English-like prose of about `size` bytes with capitals and punctuation."""
    sentences = []
    total = 0
    while total < size:
        words = [rng.choice(WORDS) for _ in range(rng.randint(5, 14))]
        sentence = " ".join(words).capitalize() + rng.choice([".", ".", "!", "?", ","])
        sentences.append(sentence)
        total += len(sentence) + 1
    return " ".join(sentences)[:size]


def document_pair(size: int, rng: random.Random) -> tuple[str, str]:
    """A document and a revision of it: some sentences rewritten."""
    text = document(size, rng)
    words = text.split(" ")
    for _ in range(len(words) // 6):
        words[rng.randrange(len(words))] = rng.choice(WORDS)
    return text, " ".join(words)
