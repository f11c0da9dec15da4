"""kivo.batch.encode against jellyfish (and doublemetaphone) called in a loop:
phonetic keys of a million names, interleaved medians of CPU time (the machine
may be shared). Run from the repository:
    .venv/bin/python bench/phonetic.py [--quick]
jellyfish and doublemetaphone are installed into the venv for this comparison only.
"""

import csv
import gzip
import random
import sys
from pathlib import Path

import jellyfish

import kivo.batch
import kivo.phonetic as ph
from timing import medians

try:
    from doublemetaphone import doublemetaphone
except ImportError:  # not built for every interpreter
    doublemetaphone = None

QUICK = "--quick" in sys.argv
ROUNDS = 3 if QUICK else 5
GOAL = "<= 0.2"
DATA = Path(__file__).resolve().parent.parent / "examples" / "data" / "febrl3.csv.gz"


def names(count):
    """The Febrl given names and surnames (letters only: jellyfish refuses others), repeated
    up to `count`."""
    with gzip.open(DATA, "rt") as f:
        rows = list(csv.reader(f))[1:]
    pool = [r[col].strip() for r in rows for col in (1, 2) if r[col].strip().isalpha()]
    return (pool * (count // len(pool) + 1))[:count]


def distinct_names(count, seed=5):
    """Names that never repeat (letters in the shape of a name), where no key
    or name can be reused: the other end from the repeating real names."""
    rng = random.Random(seed)
    vowels, consonants = "aeiouy", "bcdfghjklmnpqrstvwxz"
    out = set()
    while len(out) < count:
        syllables = [rng.choice(consonants) + rng.choice(vowels) for _ in range(rng.randint(2, 5))]
        out.add("".join(syllables).capitalize() + rng.choice(consonants))
    return sorted(out)


def timed(cases):
    return medians(cases, ROUNDS)


def main():
    count = 100_000 if QUICK else 1_000_000
    lists = [(names(count), f"{count} names", GOAL),
             (distinct_names(count // 5), f"{count // 5} distinct names", "(report)")]
    rows = [
        ("Soundex", ph.soundex, jellyfish.soundex),
        ("NYSIIS", ph.nysiis, jellyfish.nysiis),
        ("Metaphone", ph.metaphone, jellyfish.metaphone),
        ("match rating codex", ph.match_rating_codex, jellyfish.match_rating_codex),
        ("Double Metaphone", ph.double_metaphone, doublemetaphone),
    ]
    for texts, size, goal in lists:
        for title, ours, theirs in rows:
            if theirs is None:
                continue
            peer = "jellyfish" if theirs.__module__.startswith("jellyfish") else "doublemetaphone"
            times = timed({
                "kivo": lambda: kivo.batch.encode(texts, encoder=ours, workers=1),
                peer: lambda: [theirs(t) for t in texts],
            })  # fmt: skip
            ratio = times["kivo"] / times[peer]
            line = ", ".join(f"{k} {v * 1e3:.1f} ms" for k, v in times.items())
            print(f"{title}, {size}, kivo.batch.encode, 1 thread (CPU time): {line}; "
                  f"kivo/{peer} = {ratio:.2f} (goal {goal})")


if __name__ == "__main__":
    main()
