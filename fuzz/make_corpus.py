"""Adds hand-made seeds to fuzz/corpus: for every check of kivo_harness,
inputs that spell out texts built from its palette (whitespace of every kind,
combining marks, astral characters, stopwords, long runs, lone surrogates),
followed by a spread of decision bytes. The rest of the corpus is what
`scripts/fuzz.sh --merge` kept from fuzzing runs.

    python fuzz/make_corpus.py
"""

import hashlib
import os
import random
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from kivo_harness import CHECKS, MAX_TEXT, PALETTE  # noqa: E402

SAMPLES = [
    [],
    ["a", "b", "c"],
    ["the", " ", "cat", "\t", "and", "\u3000", "hat"],
    ["\u00a0", "\u2003", "x", "\u3000"],
    ["e\u0301", "\u212b", "\ufb01", "\u03a3", "\u0130"],
    ["\U0001f600", "\U00010437", "\U000105d2", "\u0307", "\U0010ffff"],
    ["\x00", "a", "\x00", "\u200b", "b", "\x85"],
    ["don't", " ", "it's", "\u2019", "\u00ab", "cat", "\u00bb", "!"],
]


def spell(parts, repeat=None):
    """Bytes that make Reader.text produce `parts` (palette pieces)."""
    out = [len(parts)]
    for piece in parts:
        if repeat is not None:
            out += [220, PALETTE.index(piece), repeat & 0xFF, repeat >> 8 & 0xFF, 0]
        else:
            out += [0, PALETTE.index(piece)]
    return bytes(out)


def main():
    target = os.path.join(HERE, "corpus")
    os.makedirs(target, exist_ok=True)
    rng = random.Random(1234)
    seeds = []
    for check in range(len(CHECKS)):
        for i, a in enumerate(SAMPLES):
            b = SAMPLES[(i + 1) % len(SAMPLES)] if i % 2 else a
            tail = bytes(rng.randrange(256) for _ in range(48))
            seeds.append(bytes([check, 200]) + spell(a) + spell(b) + tail)
        # A long run, and lone surrogates.
        seeds.append(bytes([check, 200]) + spell(["a"], MAX_TEXT - 1) + spell(["b"], 700)
                     + bytes(rng.randrange(256) for _ in range(48)))
        seeds.append(bytes([check, 0]) + bytes([3, 250, 0, 0, 1, 250, 1]) + bytes([1, 250, 2])
                     + bytes(rng.randrange(256) for _ in range(48)))
    for seed in seeds:
        name = hashlib.sha1(seed).hexdigest()
        with open(os.path.join(target, name), "wb") as f:
            f.write(seed)
    print(f"wrote {len(seeds)} seeds to {target}")


if __name__ == "__main__":
    main()
