"""kivo.edit, kivo.tokens and kivo.batch.extract_one against RapidFuzz (and
jellyfish), as ratios of kivo's time to the peer's in one interleaved run.
Run from the repository, one thread each:
    .venv/bin/python bench/edit.py [--quick] [--extract | --single | --cdist] [--simd=portable|avx2|avx512]
Sizes: cdist 2,000 x 2,000 names, extract_one over 50,000 (--quick: 500 x 500
and 10,000); the phonetic keys of 1M names are bench/phonetic.py's.
RapidFuzz and jellyfish are installed into the venv for this comparison only.
"""

import csv
import gzip
import os
import random
import sys
from pathlib import Path

os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")  # idle BLAS threads would take the other core

sys.path.insert(0, str(Path(__file__).resolve().parent))
from timing import Contender, time_case  # noqa: E402

import kivo  # noqa: E402
import kivo.batch as batch  # noqa: E402
import kivo.edit as edit  # noqa: E402
import kivo.tokens as tokens  # noqa: E402
from rapidfuzz import distance as rfd  # noqa: E402
from rapidfuzz import fuzz, process  # noqa: E402
from timing import medians

QUICK = "--quick" in sys.argv
# --extract: only the extract_one rows; --single: only the single calls; --cdist: only the edit measures'
# cdist rows; --simd=avx2 (portable, avx512): the widest vector path kivo.batch's kernels may run.
EXTRACT_ONLY = "--extract" in sys.argv
SINGLE_ONLY = "--single" in sys.argv
CDIST_ONLY = "--cdist" in sys.argv
SIMD = next((a.split("=", 1)[1] for a in sys.argv if a.startswith("--simd=")), None)
ROUNDS = 3 if QUICK else 7
TARGET = 0.02 if QUICK else 0.1
DATA = Path(__file__).resolve().parent.parent / "examples" / "data" / "febrl3.csv.gz"


def names(count, seed):
    """FEBRL names ("given surname") of 5 to 20 characters, then typo'd copies up to `count`."""
    with gzip.open(DATA, "rt") as f:
        rows = list(csv.reader(f))[1:]
    pool = sorted({f"{r[1].strip()} {r[2].strip()}".strip() for r in rows})
    pool = [n for n in pool if 5 <= len(n) <= 20]
    rng = random.Random(seed)
    out = rng.sample(pool, min(count, len(pool)))
    while len(out) < count:
        chars = list(rng.choice(pool))
        chars[rng.randrange(len(chars))] = rng.choice("abcdefghijklmnopqrstuvwxyz")
        out.append("".join(chars))
    return out


def timed(cases):
    return medians(cases, ROUNDS)


def loop(f, pairs):
    def run():
        for a, b in pairs:
            f(a, b)

    return run


def long_pair(seed, length=1000):
    rng = random.Random(seed)
    a = "".join(rng.choices("abcdefghijklmnopqrstuvwxyz ", k=length))
    b = list(a)
    for _ in range(length // 10):
        b[rng.randrange(length)] = rng.choice("abcdefghijklmnopqrstuvwxyz")
    return a, "".join(b)


def single_calls(report):
    short = list(zip(names(200, 1), names(200, 2)))
    long = [long_pair(3)]
    singles = [
        ("osa_distance", edit.osa_distance, rfd.OSA.distance),
        ("damerau_levenshtein_distance", edit.damerau_levenshtein_distance,
         rfd.DamerauLevenshtein.distance),
        ("indel_distance", edit.indel_distance, rfd.Indel.distance),
        ("token_set_ratio", tokens.token_set_ratio,
         lambda a, b: fuzz.token_set_ratio(a, b, processor=None)),
        ("weighted_ratio", tokens.weighted_ratio, lambda a, b: fuzz.WRatio(a, b, processor=None)),
    ]  # fmt: skip
    for label, pairs in (("short names", short), ("1,000 characters", long)):
        for name, ours, theirs in singles:
            if label != "short names" and name in ("token_set_ratio", "weighted_ratio"):
                continue
            k, r = time_case([Contender("kivo", loop(ours, pairs), None, calls=len(pairs)),
                              Contender("rapidfuzz", loop(theirs, pairs), None, calls=len(pairs))],
                             ROUNDS, TARGET)  # fmt: skip
            report(f"{name}, {label}", k.seconds, r.seconds)


def many(report):
    n = 500 if QUICK else 2000
    queries, choices = names(n, 4), names(n, 5)
    # Each side writes the same width: RapidFuzz's matrices are 32-bit.
    cases = [
        ("cdist osa_distance", edit.osa_distance, rfd.OSA.distance, "int32"),
        ("cdist indel_distance", edit.indel_distance, rfd.Indel.distance, "int32"),
        ("cdist lcs_similarity", edit.lcs_similarity, rfd.LCSseq.normalized_similarity, "float32"),
        ("cdist weighted_ratio", tokens.weighted_ratio, fuzz.WRatio, "float32"),
    ]
    for name, ours, theirs, dtype in cases[:3] if CDIST_ONLY else cases:
        times = timed({
            "kivo": lambda: batch.cdist(queries, choices, scorer=ours, dtype=dtype, workers=1),
            "rapidfuzz": lambda: process.cdist(queries, choices, scorer=theirs, processor=None,
                                               workers=1),
        })  # fmt: skip
        report(f"{name}, {n:,} x {n:,}", times["kivo"], times["rapidfuzz"])


def extract_one_cases(report):
    pool = names(10_000 if QUICK else 50_000, 6)
    # A name of the pool (RapidFuzz stops at its first perfect match), and a
    # typo'd one that every choice must be scored against.
    present = names(1, 7)[0]
    absent = present + "x"
    for name, ours, theirs in (("weighted_ratio", tokens.weighted_ratio, fuzz.WRatio),
                               ("indel_similarity", edit.indel_similarity,
                                rfd.Indel.normalized_similarity),
                               ("osa_distance", edit.osa_distance, rfd.OSA.distance),
                               ("levenshtein_distance", kivo.levenshtein_distance,
                                rfd.Levenshtein.distance)):  # fmt: skip
        for label, query in (("in the list", present), ("not in it", absent)):
            times = timed({
                "kivo": lambda: batch.extract_one(query, pool, scorer=ours, workers=1),
                "rapidfuzz": lambda: process.extractOne(query, pool, scorer=theirs, processor=None),
            })  # fmt: skip
            report(f"extract_one {name}, {len(pool):,} choices, query {label}", times["kivo"],
                   times["rapidfuzz"])


def main():
    if SIMD is not None:
        batch._limit_simd(SIMD)
    print(f"kivo.batch on {batch._simd_path()}")
    print(f"{'work':<52} {'kivo':>12} {'peer':>12} {'ratio':>7}")

    def report(work, ours, theirs):
        print(f"{work:<52} {ours * 1e6:>10.3f}us {theirs * 1e6:>10.3f}us {ours / theirs:>7.2f}",
              flush=True)

    if CDIST_ONLY:
        return many(report)
    if not EXTRACT_ONLY:
        single_calls(report)
        if SINGLE_ONLY:
            return
        many(report)
    extract_one_cases(report)


if __name__ == "__main__":
    main()
