"""kivo.batch against RapidFuzz's process module and datasketch, with
interleaved medians (the machine may be shared). Run from the repository:
    .venv/bin/python bench/batch.py [--quick] [--simd=portable|avx2|avx512]
--simd limits kivo.batch's kernels to that vector path (through the private
kivo.batch._limit_simd); the path that ran is printed first.
RapidFuzz and datasketch are installed into the venv for this comparison only.
"""

import csv
import gzip
import random
import statistics
import sys
import time
import subprocess
from pathlib import Path

import numpy as np

import kivo
import kivo.batch as batch
from rapidfuzz import distance as rfd
from rapidfuzz import process

QUICK = "--quick" in sys.argv
ROUNDS = 3 if QUICK else 5
DATA = Path(__file__).resolve().parent.parent / "examples" / "data" / "febrl3.csv.gz"


def names(count, seed):
    """Febrl names of 5 to 20 characters, then typo'd copies up to `count`."""
    with gzip.open(DATA, "rt") as f:
        rows = list(csv.reader(f))[1:]
    pool = sorted({f"{r[1].strip()} {r[2].strip()}" for r in rows} - {" "})
    pool = [n for n in pool if 5 <= len(n) <= 20]
    rng = random.Random(seed)
    out = rng.sample(pool, min(count, len(pool)))
    while len(out) < count:
        chars = list(rng.choice(pool))
        chars[rng.randrange(len(chars))] = rng.choice("abcdefghijklmnopqrstuvwxyz")
        out.append("".join(chars))
    return out


def timed(cases, clock=time.process_time):
    """Median time of each case, the cases run in turn in every round."""
    times = {name: [] for name in cases}
    for _ in range(ROUNDS):
        for name, call in cases.items():
            start = clock()
            call()
            times[name].append(clock() - start)
    return {name: statistics.median(t) for name, t in times.items()}


def peak_growth(case):
    """How far a fresh process's peak resident memory (VmHWM, which unlike
    ru_maxrss does not inherit the parent's peak) rises during `case`."""
    code = (
        "import re, sys; sys.argv = ['x'] + sys.argv[1:]; import numpy, batch as b\n"
        "def peak(): return int(re.search(r'VmHWM:\\s+(\\d+)', open('/proc/self/status').read())[1])\n"
        f"f = b.{case}(); r = peak(); f(); print(peak() - r)"
    )
    args = [sys.executable, "-c", code] + (["--quick"] if QUICK else [])
    result = subprocess.run(args, cwd=Path(__file__).parent, capture_output=True, text=True)
    return int(result.stdout.split()[-1]) * 1024


def report(title, times, base, goal):
    ratio = times["kivo"] / times[base]
    line = ", ".join(f"{k} {v * 1e3:.1f} ms" for k, v in times.items())
    print(f"{title}: {line}; kivo/{base} = {ratio:.2f} (goal {goal})")


def cdist_cases():
    """Two distinct lists, as users match them; one list against itself (which
    RapidFuzz treats specially) is a row of its own."""
    n = 500 if QUICK else 2000
    ns, others = names(n, 1), names(n, 11)
    for title, ours, theirs, goal in [
        ("cdist Levenshtein distance", kivo.levenshtein_distance, rfd.Levenshtein.distance, "<= 0.7"),
        ("cdist Jaro-Winkler", kivo.jaro_winkler_similarity, rfd.JaroWinkler.similarity, "<= 0.8"),
    ]:  # fmt: skip
        for shape, choices in [("two lists", others), ("one list against itself", ns)]:
            times = timed({
                "kivo": lambda: batch.cdist(ns, choices, scorer=ours),
                "rapidfuzz": lambda: process.cdist(ns, choices, scorer=theirs, workers=1),
            })  # fmt: skip
            report(f"{title}, {n} x {n}, {shape}, 1 thread (CPU time)", times, "rapidfuzz", goal)


def topk_inputs():
    q, c = (200, 10000) if QUICK else (1000, 50000)
    return names(q, 2), names(c, 3)


def topk_kivo():
    queries, choices = topk_inputs()
    return lambda: batch.topk(queries, choices, scorer=kivo.levenshtein_similarity, k=1, score_cutoff=0.8)


def topk_cdist():
    queries, choices = topk_inputs()
    scorer = rfd.Levenshtein.normalized_similarity
    return lambda: process.cdist(queries, choices, scorer=scorer, score_cutoff=0.8).argmax(axis=1)


def topk_case():
    queries, choices = topk_inputs()
    scorer = rfd.Levenshtein.normalized_similarity

    def extract_one():
        return [process.extractOne(x, choices, scorer=scorer, score_cutoff=0.8) for x in queries]

    times = timed({"kivo": topk_kivo(), "cdist+argmax": topk_cdist(), "extractOne loop": extract_one})
    report(f"topk k=1, similarity >= 0.8, {len(queries)} x {len(choices)}", times, "cdist+argmax", "<= 1.0")
    print(f"  kivo/extractOne loop = {times['kivo'] / times['extractOne loop']:.2f} (goal <= 0.25)")
    ours, theirs = peak_growth("topk_kivo"), peak_growth("topk_cdist")
    print(f"  peak memory growth: kivo {ours / 1e6:.1f} MB, cdist {theirs / 1e6:.1f} MB "
          f"= {ours / max(theirs, 1):.1%} (goal < 5 %)")


def documents(count, seed, threshold):
    """Clusters of near-duplicate prose over a large vocabulary: a base text
    and edited copies. Returns the texts and the pairs inside clusters whose
    trigram Jaccard reaches the threshold (texts of different clusters share
    next to nothing)."""
    rng = random.Random(seed)
    letters = "abcdefghijklmnopqrstuvwxyz"
    words = ["".join(rng.choices(letters, k=rng.randint(2, 8))) for _ in range(5000)]
    docs, truth = [], set()
    while len(docs) < count:
        base = rng.choices(words, k=60)
        first = len(docs)
        for _ in range(rng.choice([1, 1, 2, 3])):
            copy = list(base)
            for _ in range(rng.randrange(8)):
                copy[rng.randrange(len(copy))] = rng.choice(words)
            docs.append(" ".join(copy))
        for a in range(first, len(docs)):
            for b in range(a + 1, len(docs)):
                if kivo.jaccard_trigram_similarity(docs[a], docs[b]) >= threshold:
                    truth.add((a, b))
    return docs[:count], {(a, b) for a, b in truth if b < count}


def dedup_case():
    from datasketch import MinHash, MinHashLSH

    count, threshold = (2000 if QUICK else 20000), 0.5
    docs, truth = documents(count, 4, threshold)

    def ours():
        sig = batch.minhash_signatures(docs, 3, 128, workers=1)
        i, j = batch.lsh_pairs(sig, bands=32, rows=4)
        score = batch.cpdist([docs[x] for x in i], [docs[y] for y in j],
                             scorer=kivo.jaccard_trigram_similarity)  # fmt: skip
        keep = score >= threshold
        return set(zip(i[keep].tolist(), j[keep].tolist()))

    def theirs():
        shingles = [{d[k : k + 3].encode() for k in range(len(d) - 2)} for d in docs]
        hashes = MinHash.bulk(shingles, num_perm=128)
        lsh = MinHashLSH(threshold=threshold, num_perm=128)
        for n, h in enumerate(hashes):
            lsh.insert(n, h)
        found = set()
        for n, h in enumerate(hashes):
            for m in lsh.query(h):
                a, b = min(n, m), max(n, m)
                if a != b and len(shingles[a] & shingles[b]) / len(shingles[a] | shingles[b]) >= threshold:
                    found.add((a, b))
        return found

    times = timed({"kivo": ours, "datasketch": theirs})
    report(f"MinHash + LSH + exact check, {count} documents", times, "datasketch", "<= 0.03")
    recall = {name: len(f() & truth) / len(truth) for name, f in [("kivo", ours), ("datasketch", theirs)]}
    print(f"  recall of {len(truth)} planted pairs: kivo {recall['kivo']:.3f}, datasketch {recall['datasketch']:.3f}")


def workers_case():
    ns = names(1000 if QUICK else 3000, 5)
    times = timed({
        "kivo": lambda: batch.cdist(ns, ns, scorer=kivo.jaro_winkler_similarity, workers=2),
        "1 worker": lambda: batch.cdist(ns, ns, scorer=kivo.jaro_winkler_similarity, workers=1),
    }, clock=time.perf_counter)  # fmt: skip
    print(f"workers=2 speed-up over workers=1 (wall): {times['1 worker'] / times['kivo']:.2f} (goal >= 1.7)")


if __name__ == "__main__":
    for arg in sys.argv[1:]:
        if arg.startswith("--simd="):
            batch._limit_simd(arg.split("=", 1)[1])
    print(f"kivo.batch vector path: {batch._simd_path()}")
    cdist_cases()
    topk_case()
    dedup_case()
    workers_case()
