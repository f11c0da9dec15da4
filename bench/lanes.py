"""Many-strings-at-once kernels against RapidFuzz's cdist, on the same name
lists: writes the lists to files, runs the C++ benchmark over them (when its
path is given; `make test-cpp` builds it) and times RapidFuzz (installed
into the venv by hand) in this process, one thread each.

    .venv/bin/python bench/lanes.py build/cpp-tests/kivo_lanes_bench
"""

import csv
import gzip
import pathlib
import random
import subprocess
import sys
import tempfile
import time

import numpy as np
from rapidfuzz import process
from rapidfuzz.distance import JaroWinkler, Levenshtein

DATA = pathlib.Path(__file__).resolve().parent.parent / "examples" / "data" / "febrl3.csv.gz"


def febrl_names() -> list[str]:
    """Given names and surnames of 5 to 20 ASCII letters."""
    with gzip.open(DATA, "rt", encoding="utf-8") as f:
        rows = csv.DictReader(f, skipinitialspace=True)
        names = [row[key].strip() for row in rows for key in ("given_name", "surname")]
    return [n for n in names if 5 <= len(n) <= 20 and n.isascii() and n.isalpha()]


def typo(name: str, rng: random.Random) -> str:
    chars = list(name)
    for _ in range(rng.randint(0, 2)):
        pos = rng.randrange(len(chars))
        op = rng.randrange(3)
        if op == 0:
            chars[pos] = rng.choice("abcdefghijklmnopqrstuvwxyz")
        elif op == 1 and len(chars) > 5:
            del chars[pos]
        elif len(chars) < 20:
            chars.insert(pos, rng.choice("abcdefghijklmnopqrstuvwxyz"))
    return "".join(chars)


def lists() -> dict[str, list[str]]:
    rng = random.Random(7)
    names = febrl_names()
    return {
        "queries": [rng.choice(names) for _ in range(2000)],
        "choices": [rng.choice(names) for _ in range(2000)],
        "topk_queries": [typo(rng.choice(names), rng) for _ in range(1000)],
        "topk_choices": [typo(rng.choice(names), rng) for _ in range(50000)],
    }


def best_of(runs: int, f) -> float:
    best = float("inf")
    for _ in range(runs):
        start = time.perf_counter()
        f()
        best = min(best, time.perf_counter() - start)
    return best


def rapidfuzz_times(data: dict[str, list[str]]) -> dict[str, float]:
    q, c = data["queries"], data["choices"]
    tq, tc = data["topk_queries"], data["topk_choices"]
    lev = best_of(5, lambda: process.cdist(q, c, scorer=Levenshtein.distance, workers=1))
    jw = best_of(5, lambda: process.cdist(q, c, scorer=JaroWinkler.similarity, workers=1))

    def topk():
        scores = process.cdist(
            tq, tc, scorer=Levenshtein.normalized_similarity, score_cutoff=0.8, workers=1
        )
        return np.argmax(scores, axis=1)

    top = best_of(2, topk)
    return {"levenshtein": lev, "jaro_winkler": jw, "topk": top}


def main() -> None:
    data = lists()
    ours = ""
    if len(sys.argv) > 1:
        with tempfile.TemporaryDirectory() as tmp:
            paths = []
            for key in ("queries", "choices", "topk_queries", "topk_choices"):
                path = pathlib.Path(tmp) / key
                path.write_text("\n".join(data[key]) + "\n", encoding="utf-8")
                paths.append(str(path))
            ours = subprocess.run(
                [sys.argv[1], *paths], check=True, capture_output=True, text=True
            ).stdout
    theirs = rapidfuzz_times(data)
    pairs = len(data["queries"]) * len(data["choices"])
    topk_pairs = len(data["topk_queries"]) * len(data["topk_choices"])
    print(f"RapidFuzz {__import__('rapidfuzz').__version__}, one thread")
    print(f"  cdist Levenshtein.distance   {theirs['levenshtein'] * 1e3:8.2f} ms"
          f"  {theirs['levenshtein'] / pairs * 1e9:6.2f} ns/pair")
    print(f"  cdist JaroWinkler.similarity {theirs['jaro_winkler'] * 1e3:8.2f} ms"
          f"  {theirs['jaro_winkler'] / pairs * 1e9:6.2f} ns/pair")
    print(f"  cdist norm. Lev >= 0.8 + argmax, 1000 x 50000 {theirs['topk'] * 1e3:8.2f} ms"
          f"  {theirs['topk'] / topk_pairs * 1e9:6.2f} ns/pair")
    if ours:
        print("kivo lane kernels (C++, one thread)")
        print(ours, end="")


if __name__ == "__main__":
    main()
